// A media library that calls back into the module while it answers: the
// module must not wait for it while holding what the call-back needs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "tests/common/LocalTime.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

class LibraryCallBack : public EngineFixture {};

TEST_F(LibraryCallBack, ALibraryThatSchedulesWhileItAnswersIsNotKeptWaiting) {
  UseModuleEndpoint();
  // A schedule whose time passed unrecorded: re-arming the timer marks it
  // missed and tells the library.
  const int pastId = Row(Values(L"Past", tev::Clock::Now() - 7200));

  // While the library takes in the missed row, a client of it schedules a
  // recording through the module.
  std::atomic<long> calledBack{-1};
  std::atomic<long> scheduled{-1};
  media_.SetHandler(L"AddMedia", [&](const VARIANT& in, VARIANT* out) {
    if (calledBack.load() == -1) {
      const int64_t tomorrow = tev::Clock::Now() + 86400;
      Value request = Value::Array({Value::Str(L"bob"), Value::Str(L"BBC One"), Value::Str(L"ch1"),
                                    Value::Date(tev::test::WallClock(tomorrow)),
                                    Value::Long(1800000), Value::Str(L"Asked"),
                                    Value::Str(L"Drama"), Value::Str(L"desc"), Value::Str(L"high"),
                                    Value::Str(L"t1"), Value::Str(L"Ep 1"), Value::Long(1)});
      AutoVariant result, ret;
      calledBack = media_.Request(L"ZoVIZ", L"ScheduleRecording", request.get(), &result, 0, &ret);
      scheduled = ret.get().vt == VT_I4 ? ret.get().lVal : -999;
    }
    std::vector<Value> ids;
    for (long i = 0; i < VUtil::GetArrayLength(peertest::Elem(in, 1).get()); ++i) {
      ids.push_back(Value::Str(L"M-missed-" + std::to_wstring(i)));
    }
    Value::Array({Value::Array(ids)}).CopyTo(out);
    return 0;
  });

  Engine().StartStop().SetRecordingTimer();
  EXPECT_EQ(calledBack.load(), 0);
  EXPECT_EQ(scheduled.load(), 0);
  EXPECT_EQ(Status(pastId), "DVRSTATE_MISSED");
  EXPECT_EQ(Column(pastId, "TevMediumId"), "M-missed-0");
  EXPECT_EQ(Rows("Name", "Name = 'Asked'").size(), 1u);
}

}  // namespace
}  // namespace enginetest
