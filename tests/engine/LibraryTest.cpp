// The media library and the module, over the loopback bus. Its change
// callback for schedules: every accepted pair is applied in order, a refused
// one answers 403 and stops the call, and bad requests are refused before
// anything changes. The start-up reconciliation against it: orphans are
// deleted there, missing rows go back in one "AddMedia", missing passes are
// published, and wrongly shown states are republished.
#include <atomic>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "platform/Clock.h"
#include "support/PMutexLock.h"
#include "tests/common/LocalTime.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using peertest::Elem;
using peertest::Str;

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

// The module's engine, with the passes it republishes.
class SyncWithTevMediaTest : public UpdateMediumTest {
 protected:
  struct Medium {
    std::wstring id, pvrState, mediaType;
  };
  // The library's answer to "GetMediaFromSource".
  static Value Listing(const std::vector<Medium>& media) {
    std::vector<Value> list;
    for (const Medium& m : media) {
      list.push_back(Value::Array({Value::Str(L"PVR"), Value::Str(L"path"), Value::Str(m.id),
                                   Value::Str(m.pvrState), Value::Str(m.mediaType)}));
    }
    return Value::Array({Value::Array(list)});
  }
  void LibraryHolds(const std::vector<Medium>& media) {
    media_.SetReply(L"GetMediaFromSource", 0, Listing(media));
  }
  // The "path" of every list of every "AddMedia" request.
  std::vector<std::set<std::wstring>> AddMediaPaths() {
    std::vector<std::set<std::wstring>> requests;
    for (const Value& in : media_.RequestsOf(L"AddMedia")) {
      const std::vector<std::wstring> paths = BatchValues(in, L"path");
      requests.emplace_back(paths.begin(), paths.end());
    }
    return requests;
  }
};

TEST_F(SyncWithTevMediaTest, RepairsBothSides) {
  const std::wstring tv = L"video/x-tv";
  Published(L"M1", Values(L"Shown", 0));
  const int wrongId = Published(L"M2", Values(L"Wrong", 0, 3600, tv, DVRSTATE_COMPLETE));
  const int missing1Id = Published(L"M3", Values(L"Missing1", 0));
  const int missing2Id = Published(L"M4", Values(L"Missing2", 0, 3600, tv, DVRSTATE_MISSED));
  Published(L"M5", Values(L"Deleted", 0, 3600, tv, DVRSTATE_DELETED));
  const int unpublishedId = Row(Values(L"Unpublished", 0));
  dbtest::RawDb db(dbPath_);
  db.Exec("INSERT INTO SeasonPasses (TevMediumId, ProgramName, ChannelMimetype, Priority, "
          "StartDate) VALUES ('P1', 'Kept', 'video/x-tv', 1, 20260101200000), "
          "('P2', 'Lost', 'video/x-tv', 2, 20260102200000)");

  LibraryHolds({{L"M1", L"schedule", L"schedule.video.file.recorded.tv"},
                {L"M2", L"recording", L"video.file.recorded.tv"},
                {L"P1", L"", L"schedulePass.tv.channel"},
                {L"M-orphan", L"schedule", L"schedule.video.file.recorded.tv"},
                {L"P-orphan", L"", L"schedulePass.tv.channel"},
                {L"M-gone", L"complete", L"deleted.video.file.recorded.tv"}});
  Engine().Library().SyncWithTevMedia(Engine().Passes());

  // Orphans, the schedule's and the pass's alike, are marked deleted in one
  // request; a medium already marked deleted is left alone.
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
  ASSERT_EQ(media_.CountOf(L"SetMediaAttributeList"), 1u);
  Value marked = Elem(Last(media_, L"SetMediaAttributeList").get(), 1);
  std::set<std::wstring> removed;
  for (long i = 0; i < VUtil::GetArrayLength(marked.get()); ++i) {
    removed.insert(Str(Elem(marked.get(), i).get(), 0));
  }
  EXPECT_EQ(removed, (std::set<std::wstring>{L"M-orphan", L"P-orphan"}));

  // The row the library shows as recording is republished as complete.
  EXPECT_EQ(StatesOf(media_, Path(wrongId)), (std::vector<std::wstring>{L"complete"}));
  EXPECT_TRUE(StatesOf(media_, Path(missing1Id)).empty());
  // Every row the library lacks, in one request; deleted rows stay out.
  EXPECT_EQ(AddMediaPaths(), (std::vector<std::set<std::wstring>>{
                                 {Path(missing1Id), Path(missing2Id), Path(unpublishedId)}}));
  EXPECT_NE(Column(unpublishedId, "TevMediumId"), "");
  // The pass the library lacks is published on its own.
  EXPECT_EQ(StatesOf(media_, L"RP2").size(), 1u);
  EXPECT_TRUE(StatesOf(media_, L"RP1").empty());
}

TEST_F(SyncWithTevMediaTest, ALibraryThatFailsLosesNothing) {
  Published(L"M1", RowValues());
  // A refused or unreadable listing deletes nothing and offers the rows
  // again.
  media_.SetReply(L"GetMediaFromSource", 7);
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 1u);
  media_.SetReply(L"GetMediaFromSource", 0, Value::Array({Value::Str(L"junk")}));
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 2u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia") + media_.CountOf(L"SetMediaAttributeList"), 0u);
  // No library at all: the sync ends at once.
  media_.Leave();
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 2u);
  EXPECT_EQ(Column(1, "TevMediumId"), "M1");
}

TEST_F(SyncWithTevMediaTest, ALateAnswerIsComparedWithTheTablesAsTheyAreWhenItArrives) {
  Published(L"M1", Values(L"Show", tev::Clock::Now() + 86400));
  dbtest::RawDb db(dbPath_);
  db.Exec(
      "INSERT INTO SeasonPasses (TevMediumId, ProgramName, ChannelMimetype, Priority, "
      "StartDate) VALUES ('P1', 'Kept', 'video/x-tv', 1, 20260101200000)");
  // The library gives the new schedule its id and, once released, lists
  // what it holds by then: the old media and those made meanwhile.
  media_.SetHandler(L"AddMedium", [](const VARIANT&, VARIANT* out) {
    Value::Array({Value::Str(L"M-new")}).CopyTo(out);
    return 0;
  });
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::function<void()> beforeAnswer;
  media_.SetHandler(L"GetMediaFromSource", [&](const VARIANT&, VARIANT* out) {
    released.wait();
    if (beforeAnswer) beforeAnswer();
    Listing({{L"M1", L"schedule", L"schedule.video.file.recorded.tv"},
             {L"M-new", L"schedule", L"schedule.video.file.recorded.tv"},
             {L"P1", L"", L"schedulePass.tv.channel"},
             {L"P-new", L"", L"schedulePass.tv.channel"}})
        .CopyTo(out);
    return 0;
  });

  std::thread sync([this] { Engine().Library().SyncWithTevMedia(Engine().Passes()); });
  ASSERT_TRUE(media_.WaitFor(L"GetMediaFromSource", 1, 10000));
  // Made while the library takes its time: a schedule through intake, a
  // pass as its store writes it.
  ASSERT_EQ(Add(L"Made meanwhile", tev::Clock::Now() + 7200, 1800), 0);
  db.Exec(
      "INSERT INTO SeasonPasses (TevMediumId, ProgramName, ChannelMimetype, Priority, "
      "StartDate) VALUES ('P-new', 'New', 'video/x-tv', 2, 20260102200000)");
  release.set_value();
  sync.join();
  // Nothing made meanwhile is deleted or published a second time.
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList"), 0u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 0u);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);

  // A passes table that cannot be read when the answer comes stops the
  // sync: without it every pass medium would look like an orphan.
  beforeAnswer = [&db] { db.Exec("ALTER TABLE SeasonPasses RENAME TO Elsewhere"); };
  log_->Clear();
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SyncWithTevMedia: could not read the season passes"));
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList"), 0u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

TEST_F(SyncWithTevMediaTest, EngineStartUpSettlesTheTableAndRepairsTheLibrary) {
  PVRVel::SetLive(pvr_.get());
  struct StopEngine {
    Schedules& engine;
    ~StopEngine() {
      engine.Shutdown();
      PVRVel::SetLive(nullptr);
    }
  } stop{Engine()};
  const int id = Published(L"M-lost", Values(L"Show", tev::Clock::Now() + 86400));
  // A recording an earlier crash left long past its end is dropped before
  // the library is compared.
  const int staleId =
      Row(Values(L"Stale", tev::Clock::Now() - 9000, 1800, L"video/x-tv", DVRSTATE_RECORDING));
  ASSERT_TRUE(Engine().Initialize());
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(staleId)).empty());
  EXPECT_EQ(AddMediaPaths(), (std::vector<std::set<std::wstring>>{{Path(id)}}));
  EXPECT_EQ(media_.CountOf(L"GetMediaFromSource"), 1u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
}

}  // namespace
}  // namespace enginetest
