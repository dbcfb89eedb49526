// What a client receives from the scheduling and conflict services, slot by
// slot, over a loopback bus to the module's endpoint with its engine: the
// medium id of a new or already planned programme, and the schedules in the
// way.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/common/LocalTime.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/RowsAndMedia.h"

namespace {

using enginetest::Value;
using tev::test::WallClock;

class ConflictAnswers : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    UseModuleEndpoint();
    ASSERT_EQ(client_.Connect(bus_.host(), L"ConflictClient"), 0);
  }
  void TearDown() override {
    client_.Disconnect();
    EngineFixture::TearDown();
  }

  // The service's return code; the bus itself must not fail.
  long Call(const wchar_t* method, const Value& in, VARIANT* out) {
    AutoVariant ret;
    EXPECT_EQ(client_.Request(L"ZoVIZ", method, in.get(), out, 0, &ret), 0)
        << tev::ToStdUtf8(method);
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  // An hour of `name` on BBC One from `start` (UTC).
  static Value Request(int64_t start, const std::wstring& name) {
    return Value::Array({Value::Str(L"bob"), Value::Str(L"BBC One"), Value::Str(L"ch1"),
                         Value::Date(WallClock(start)), Value::Long(3600000), Value::Str(name),
                         Value::Str(L"Drama"), Value::Str(L"desc"), Value::Str(L"high"),
                         Value::Str(L"t1"), Value::Str(L"Ep 1"), Value::Long(1)});
  }
  static std::wstring Text(const AutoVariant& out) {
    EXPECT_EQ(out.get().vt, VT_BSTR);
    return out.get().vt == VT_BSTR ? std::wstring(out.get().bstrVal) : std::wstring();
  }
  // One conflict entry: name, medium id, channel name, start, end,
  // subtitle, duration in ms, state.
  static void ExpectEntry(const VARIANT& list, const std::wstring& name,
                          const std::wstring& mediumId, int64_t start) {
    ASSERT_EQ(VUtil::GetArrayLength(list), 1);
    tev::peers::Value entry = peertest::Elem(list, 0);
    ASSERT_EQ(VUtil::GetArrayLength(entry.get()), 8);
    EXPECT_EQ(peertest::Str(entry.get(), 0), name);
    EXPECT_EQ(peertest::Str(entry.get(), 1), mediumId);
    EXPECT_EQ(peertest::Str(entry.get(), 2), L"BBC One");
    EXPECT_EQ(VUtil::GetDateElement(entry.get(), 3), start);
    EXPECT_EQ(VUtil::GetDateElement(entry.get(), 4), start + 3600);
    EXPECT_EQ(peertest::Str(entry.get(), 5), L"Ep 1");
    EXPECT_EQ(VUtil::GetLongElement(entry.get(), 6), 3600000);
    EXPECT_EQ(peertest::Str(entry.get(), 7), L"schedule");
  }

  tev::test::OfferingSatellite client_;
};

TEST_F(ConflictAnswers, MediumIdsAndConflictListsInTheirBusForm) {
  const int64_t start = tev::Clock::Now() / 60 * 60 + 86400;
  AutoVariant first;
  ASSERT_EQ(Call(L"ScheduleRecording", Request(start, L"First"), &first), 0);
  const std::wstring firstId = Text(first);
  EXPECT_EQ(firstId, tev::FromStdUtf8(Rows("TevMediumId", "Name = 'First'")[0][0]));

  // The same programme again: 119 and the medium id of the planned one.
  AutoVariant again;
  EXPECT_EQ(Call(L"ScheduleRecording", Request(start, L"First"), &again), 119);
  EXPECT_EQ(Text(again), firstId);

  // Another programme on the one tuner: the list itself.
  AutoVariant clash;
  EXPECT_EQ(Call(L"ScheduleRecording", Request(start + 1800, L"Second"), &clash), 101);
  ExpectEntry(clash.get(), L"First", firstId, start + 1);

  // The conflict query wraps the list in a one-element array. The asked
  // schedule is written straight in, as a tuner count that changed later
  // would have left it.
  const int asked = enginetest::InsertRow(dbPath_, [&] {
    enginetest::RowSpec row;
    row.name = "Asked";
    row.status = "DVRSTATE_CONFLICT";
    row.start = start + 1800;
    row.duration = 3600;
    row.path = videoDir_ + "/asked.asf";
    return row;
  }());
  Schedules::AssignTevMediumId(asked, L"M-asked");
  const auto before = Rows("*");
  AutoVariant query;
  EXPECT_EQ(Call(L"GetConflicts", Value::Array({Value::Str(L"M-asked")}), &query), 101);
  ASSERT_EQ(VUtil::GetArrayLength(query.get()), 1);
  ExpectEntry(peertest::Elem(query.get(), 0).get(), L"First", firstId, start + 1);
  EXPECT_EQ(Rows("*"), before);

  // No such schedule: 103 and nothing in out; a malformed request is
  // refused as a parameter error.
  AutoVariant none;
  EXPECT_EQ(Call(L"GetConflicts", Value::Array({Value::Str(L"M-none")}), &none), 103);
  EXPECT_EQ(none.get().vt, VT_EMPTY);
  for (const Value& bad : {Value::Str(L"M-asked"), Value::Array({}),
                           Value::Array({Value::Long(asked)})}) {
    AutoVariant refused;
    EXPECT_EQ(Call(L"GetConflicts", bad, &refused), 1);
  }
  EXPECT_EQ(Rows("*"), before);
}

}  // namespace
