// The library's change callback for schedules: every accepted pair is
// applied in order, a refused one answers 403 and stops the call, and bad
// requests are refused before anything changes. Requests come over the
// loopback bus to the module's own "UpdateMedium" service.
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/PMutexLock.h"
#include "tests/common/LocalTime.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

const wchar_t kTv[] = L"video/x-tv";

class UpdateMediumTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
  }
  // "UpdateMedium" as the library sends it; the return code (the bus
  // failure is checked).
  int Update(const std::wstring& mediumId, const std::vector<std::pair<std::wstring, Value>>& pairs,
             int32_t action = 0) {
    return Call(Value::Array({Value::Long(action), Value::Str(mediumId), Value::Pairs(pairs)}));
  }
  int Call(const Value& in) {
    AutoVariant out, retcodes;
    EXPECT_EQ(media_.Request(L"ZoVIZ", L"UpdateMedium", in.get(), &out, 0, &retcodes), 0);
    return static_cast<int>(VUtil::GetSingleRetcode(retcodes));
  }
  static std::pair<std::wstring, Value> P(const std::wstring& name, const std::wstring& value) {
    return {name, Value::Str(value)};
  }
  int64_t Future() { return (tev::Clock::Now() / 60 + 120) * 60; }
};

TEST_F(UpdateMediumTest, TextPairsApplyInOrderUntilARefusedOne) {
  const int id = Published(L"M1", Values(L"Show", Future()));
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Renamed"), P(L"subTitle", L"Pilot"), P(L"genre", L"Comedy"),
                           P(L"description", L"It's new"), P(L"keepUntil", L"AT_LEAST_7_DAYS")}),
            0);
  EXPECT_EQ(Rows("Name, Subtitle, Category, Description, KeepUntil")[0],
            (std::vector<std::string>{"Renamed", "Pilot", "Comedy", "It's new", "17"}));

  // A "title" then a "path": renamed, then refused.
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Again"), P(L"path", L"/etc/passwd"), P(L"genre", L"X")}),
            kResultChangeRefused);
  EXPECT_EQ(Column(id, "Name"), "Again");
  EXPECT_EQ(Column(id, "Category"), "Comedy");
  EXPECT_EQ(Path(id), tev::FromStdUtf8(videoDir_) + L"/Show.asf");
  for (const wchar_t* readOnly : {L"mimeType", L"mediaType", L"channel", L"channelId"}) {
    EXPECT_EQ(Update(L"M1", {P(readOnly, L"x")}), kResultChangeRefused) << readOnly;
  }
  // "thumbnailId" and "tevPassId" end the call; an unknown keep-until name
  // is refused rather than read as "until space needed".
  EXPECT_EQ(Update(L"M1", {P(L"thumbnailId", L"T1"), P(L"title", L"Never")}), 0);
  EXPECT_EQ(Update(L"M1", {P(L"tevPassId", L"P1"), P(L"title", L"Never")}), 0);
  EXPECT_EQ(Update(L"M1", {P(L"keepUntil", L"FOREVER")}), kResultChangeRefused);
  EXPECT_EQ(Column(id, "Name"), "Again");
  EXPECT_EQ(Column(id, "KeepUntil"), "17");
}

TEST_F(UpdateMediumTest, RecordingsInProgressAndFinishedOnesTakeNamesButNoStateOrTime) {
  const int64_t now = tev::Clock::Now();
  const int runningId =
      Published(L"M1", Values(L"Running", now - 60, 3600, kTv, DVRSTATE_RECORDING));
  const int doneId = Published(L"M2", Values(L"Done", now - 7200, 3600, kTv, DVRSTATE_COMPLETE));
  for (const wchar_t* id : {L"M1", L"M2"}) {
    EXPECT_EQ(Update(id, {P(L"title", L"Kept"), P(L"keepUntil", L"AT_LEAST_3_DAYS")}), 0);
    EXPECT_EQ(Update(id, {P(L"pvrState", L"schedule")}), kResultChangeRefused);
    EXPECT_EQ(Update(id, {P(L"pvrState", L"skip")}), kResultChangeRefused);
    EXPECT_EQ(Update(id, {{L"duration", Value::Long(60000)}}), kResultChangeRefused);
  }
  EXPECT_EQ(Column(runningId, "Name"), "Kept");
  EXPECT_EQ(Column(doneId, "KeepUntil"), "13");
  EXPECT_EQ(Status(runningId), "DVRSTATE_RECORDING");
  EXPECT_EQ(Status(doneId), "DVRSTATE_COMPLETE");
  EXPECT_EQ(Column(runningId, "Duration"), "3600");
}

TEST_F(UpdateMediumTest, SkipAndScheduleMoveThroughTheConflictCode) {
  const int firstId = Published(L"M1", Values(L"First", Future()));
  const int secondId =
      Published(L"M2", Values(L"Second", Future() + 600, 3600, kTv, DVRSTATE_CONFLICT));
  const int runningId = Published(L"M3", Values(L"Running", tev::Clock::Now() - 60, 3600,
                                                L"video/x-webwin", DVRSTATE_RECORDING));

  // Skipping the first frees the one tuner for the second.
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"skip")}), 0);
  EXPECT_EQ(Status(firstId), "DVRSTATE_SKIP");
  EXPECT_EQ(Status(secondId), "DVRSTATE_SCHEDULED");
  // Scheduling it again skips the second, which overlaps it.
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"schedule")}), 0);
  EXPECT_EQ(Status(firstId), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(Status(secondId), "DVRSTATE_SKIP");
  EXPECT_EQ(StatesOf(media_, Path(secondId)).back(), L"skip");

  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"schedule")}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"recording")}), kResultChangeRefused);
  // A recording in progress cannot be skipped and goes on recording.
  EXPECT_EQ(Update(L"M3", {P(L"pvrState", L"skip")}), kResultChangeRefused);
  EXPECT_EQ(Status(runningId), "DVRSTATE_RECORDING");
}

TEST_F(UpdateMediumTest, TimeChangesMoveAPlanAndAreRefusedOnceItHasRun) {
  const RowValues plan = Values(L"Plan", Future());
  const int planId = Published(L"M1", plan);
  const int doneId =
      Published(L"M2", Values(L"Done", tev::Clock::Now() - 7200, 3600, kTv, DVRSTATE_COMPLETE));

  const int64_t later = plan.start + 3600;
  EXPECT_EQ(Update(L"M1", {P(L"startTime", FormatTime2(later)), {L"duration", Value::Long(1800000)}}),
            0);
  EXPECT_EQ(Column(planId, "StartTime"), DbTime(later));
  EXPECT_EQ(Column(planId, "EndTime"), DbTime(later + 1800));
  EXPECT_EQ(Column(planId, "Duration"), "1800");
  EXPECT_EQ(Status(planId), "DVRSTATE_SCHEDULED");
  // The file name follows the new time, and the library hears of it.
  EXPECT_NE(Path(planId), tev::FromStdUtf8(videoDir_) + L"/Plan.asf");
  EXPECT_EQ(StatesOf(media_, Path(planId)).size(), 1u);

  EXPECT_EQ(Update(L"M1", {{L"duration", Value::Long(999)}}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"duration", L"-5000")}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"startTime", L"tomorrow")}), kResultChangeRefused);
  EXPECT_EQ(Column(planId, "Duration"), "1800");
  // A finished one's length: RecordingsInProgressAndFinishedOnesTakeNamesButNoStateOrTime.
  EXPECT_EQ(Update(L"M2", {P(L"startTime", FormatTime2(later))}), kResultChangeRefused);
  EXPECT_EQ(Path(doneId), tev::FromStdUtf8(videoDir_) + L"/Done.asf");
}

TEST_F(UpdateMediumTest, AStartMovedToNowOrEarlierRecordsTheRowItselfOnce) {
  const int id = Published(L"M1", Values(L"Moved", Future()));
  const int64_t now = tev::Clock::Now();
  EXPECT_EQ(Update(L"M1", {P(L"startTime", FormatTime2(now - 600))}), 0);

  // One stream, into the row's own file, and the row says so.
  const auto streams = StartedStreams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams.begin()->second, Path(id));
  EXPECT_EQ(Status(id), "DVRSTATE_RECORDING");
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_LE(GetTime3(tev::FromStdUtf8(Column(id, "StartTime"))), tev::Clock::Now());
  EXPECT_EQ(StatesOf(media_, Path(id)).back(), L"recording");
  // The timer's next wake-up finds nothing more to start.
  {
    PMutexLock lock(Engine().EngineLock());
    Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  }
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(Status(id), "DVRSTATE_RECORDING");
}

TEST_F(UpdateMediumTest, AMoveIntoAConflictIsRefusedAndTheRowKeepsItsTime) {
  const RowValues a = Values(L"A", Future()), b = Values(L"B", Future() + 7200);
  Published(L"M1", a);
  const int bId = Published(L"M2", b);
  EXPECT_EQ(Update(L"M2", {P(L"title", L"B2"), P(L"startTime", FormatTime2(a.start + 60))}),
            kResultChangeRefused);
  EXPECT_EQ(Column(bId, "Name"), "B2");
  EXPECT_EQ(Column(bId, "StartTime"), DbTime(b.start));
  EXPECT_EQ(Path(bId), tev::FromStdUtf8(videoDir_) + L"/B.asf");
  EXPECT_EQ(Status(bId), "DVRSTATE_SCHEDULED");
  // A skip applied before the refused move stays applied.
  EXPECT_EQ(Update(L"M2", {P(L"pvrState", L"skip"), P(L"startTime", FormatTime2(a.start + 60))}),
            kResultChangeRefused);
  EXPECT_EQ(Status(bId), "DVRSTATE_SKIP");
  EXPECT_EQ(Column(bId, "StartTime"), DbTime(b.start));
  EXPECT_EQ(Path(bId), tev::FromStdUtf8(videoDir_) + L"/B.asf");
}

TEST_F(UpdateMediumTest, DeletionRemovesTheScheduleWithoutAskingTheLibraryAgain) {
  const int id = Published(L"M1", Values(L"Show", Future()));
  EXPECT_EQ(Update(L"M1", {}, 1), 0);
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(id)).empty());
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

TEST_F(UpdateMediumTest, BadRequestsChangeNothingAndTheServiceGoesOn) {
  const int id = Published(L"M1", Values(L"Show", Future()));
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId, ProgramName) VALUES ('P1', 'x')");

  EXPECT_EQ(Update(L"nobody", {P(L"title", L"X")}), 0);
  EXPECT_EQ(Update(L"M1", {}), 0);
  // A pass id reaches the pass branch, never a schedule row.
  Update(L"P1", {P(L"title", L"X")});
  // Wrong value types and malformed pairs: refused with the parameter error
  // before the title before them is applied.
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Y"), {L"genre", Value::Long(5)}}), 1);
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Y"), {L"duration", Value::Double(1.5)}}), 1);
  EXPECT_EQ(Call(Value::Array({Value::Long(0), Value::Str(L"M1"),
                               Value::Array({Value::Array({Value::Str(L"title")})})})),
            1);
  EXPECT_EQ(Call(Value::Array({Value::Str(L"zero"), Value::Str(L"M1")})), 1);
  std::vector<std::pair<std::wstring, Value>> many(10000, P(L"title", L"Z"));
  EXPECT_EQ(Update(L"M1", many), 1);
  EXPECT_EQ(Column(id, "Name"), "Show");

  // The service still answers.
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Fine")}), 0);
  EXPECT_EQ(Column(id, "Name"), "Fine");
}

// A library that calls back into the module while it answers: the module
// must not wait for it while holding what the call-back needs.
TEST_F(UpdateMediumTest, ALibraryThatSchedulesWhileItAnswersIsNotKeptWaiting) {
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
