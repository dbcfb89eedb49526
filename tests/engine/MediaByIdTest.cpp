// Media by their medium ids: the library's change callback and start-up
// reconciliation over a loopback bus, and file queries and removal on real files.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FileQueries.h"
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
  Published(L"M1", Values(L"Show", Future()));
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Renamed"), P(L"subTitle", L"Pilot"), P(L"genre", L"Comedy"),
                           P(L"description", L"It's new"), P(L"keepUntil", L"AT_LEAST_7_DAYS")}),
            0);
  EXPECT_EQ(Rows("Name, Subtitle, Category, Description, KeepUntil")[0],
            (std::vector<std::string>{"Renamed", "Pilot", "Comedy", "It's new", "17"}));

  EXPECT_EQ(Update(L"M1", {P(L"title", L"Again"), P(L"path", L"/etc/passwd"), P(L"genre", L"X")}),
            kResultChangeRefused);
  EXPECT_EQ(Rows("Name, Category, FilePath")[0],
            (std::vector<std::string>{"Again", "Comedy", videoDir_ + "/Show.asf"}));
  for (const wchar_t* readOnly : {L"mimeType", L"mediaType", L"channel", L"channelId"}) {
    EXPECT_EQ(Update(L"M1", {P(readOnly, L"x")}), kResultChangeRefused) << readOnly;
  }
  // These two end the call; an unknown keep-until is not "until space needed".
  EXPECT_EQ(Update(L"M1", {P(L"thumbnailId", L"T1"), P(L"title", L"Never")}), 0);
  EXPECT_EQ(Update(L"M1", {P(L"tevPassId", L"P1"), P(L"title", L"Never")}), 0);
  EXPECT_EQ(Update(L"M1", {P(L"keepUntil", L"FOREVER")}), kResultChangeRefused);
  EXPECT_EQ(Rows("Name, KeepUntil")[0], (std::vector<std::string>{"Again", "17"}));
}

TEST_F(UpdateMediumTest, RecordingsInProgressAndFinishedOnesTakeNamesButNoStateOrTime) {
  const int64_t now = tev::Clock::Now();
  Published(L"M1", Values(L"Running", now - 60, 3600, kTv, DVRSTATE_RECORDING));
  Published(L"M2", Values(L"Done", now - 7200, 3600, kTv, DVRSTATE_COMPLETE));
  for (const wchar_t* id : {L"M1", L"M2"}) {
    EXPECT_EQ(Update(id, {P(L"title", L"Kept"), P(L"keepUntil", L"AT_LEAST_3_DAYS")}), 0);
    EXPECT_EQ(Update(id, {P(L"pvrState", L"schedule")}), kResultChangeRefused);
    EXPECT_EQ(Update(id, {P(L"pvrState", L"skip")}), kResultChangeRefused);
    EXPECT_EQ(Update(id, {{L"duration", Value::Long(60000)}}), kResultChangeRefused);
  }
  EXPECT_EQ(Rows("Name, KeepUntil, Status, Duration"),
            (Table{{"Kept", "13", "DVRSTATE_RECORDING", "3600"},
                   {"Kept", "13", "DVRSTATE_COMPLETE", "3600"}}));
}

TEST_F(UpdateMediumTest, SkipAndScheduleMoveThroughTheConflictCode) {
  const int firstId = Published(L"M1", Values(L"First", Future()));
  const int secondId =
      Published(L"M2", Values(L"Second", Future() + 600, 3600, kTv, DVRSTATE_CONFLICT));

  // Skipping the first frees the one tuner for the second.
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"skip")}), 0);
  EXPECT_EQ(Status(firstId), "DVRSTATE_SKIP");
  EXPECT_EQ(Status(secondId), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"schedule")}), 0);
  EXPECT_EQ(Status(firstId), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(Status(secondId), "DVRSTATE_SKIP");
  EXPECT_EQ(StatesOf(media_, Path(secondId)).back(), L"skip");

  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"schedule")}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"pvrState", L"recording")}), kResultChangeRefused);
}

TEST_F(UpdateMediumTest, TimeChangesMoveAPlanAndAreRefusedOnceItHasRun) {
  const RowValues plan = Values(L"Plan", Future());
  const int planId = Published(L"M1", plan);
  const int doneId =
      Published(L"M2", Values(L"Done", tev::Clock::Now() - 7200, 3600, kTv, DVRSTATE_COMPLETE));

  const int64_t later = plan.start + 3600;
  EXPECT_EQ(Update(L"M1", {P(L"startTime", FormatTime2(later)), {L"duration", Value::Long(1800000)}}),
            0);
  const std::string where = "ID = " + std::to_string(planId);
  EXPECT_EQ(Rows("StartTime, EndTime, Duration, Status", where)[0],
            (std::vector<std::string>{DbTime(later), DbTime(later + 1800), "1800",
                                      "DVRSTATE_SCHEDULED"}));
  // The file name follows the new time, and the library hears of it.
  EXPECT_NE(Path(planId), tev::FromStdUtf8(videoDir_) + L"/Plan.asf");
  EXPECT_EQ(StatesOf(media_, Path(planId)).size(), 1u);

  EXPECT_EQ(Update(L"M1", {{L"duration", Value::Long(999)}}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"duration", L"-5000")}), kResultChangeRefused);
  EXPECT_EQ(Update(L"M1", {P(L"startTime", L"tomorrow")}), kResultChangeRefused);
  EXPECT_EQ(Column(planId, "Duration"), "1800");
  EXPECT_EQ(Update(L"M2", {P(L"startTime", FormatTime2(later))}), kResultChangeRefused);
  EXPECT_EQ(Path(doneId), tev::FromStdUtf8(videoDir_) + L"/Done.asf");
}

TEST_F(UpdateMediumTest, AStartMovedToNowOrEarlierRecordsTheRowItselfOnce) {
  const int id = Published(L"M1", Values(L"Moved", Future()));
  const int64_t now = tev::Clock::Now();
  EXPECT_EQ(Update(L"M1", {P(L"startTime", FormatTime2(now - 600))}), 0);

  const auto streams = StartedStreams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams.begin()->second, Path(id));
  EXPECT_EQ(Status(id), "DVRSTATE_RECORDING");
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_LE(GetTime3(tev::FromStdUtf8(Column(id, "StartTime"))), tev::Clock::Now());
  EXPECT_EQ(StatesOf(media_, Path(id)).back(), L"recording");
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
  const std::string where = "ID = " + std::to_string(bId);
  const std::string path = videoDir_ + "/B.asf";
  EXPECT_EQ(Rows("Name, StartTime, FilePath, Status", where)[0],
            (std::vector<std::string>{"B2", DbTime(b.start), path, "DVRSTATE_SCHEDULED"}));
  // A skip applied before the refused move stays applied.
  EXPECT_EQ(Update(L"M2", {P(L"pvrState", L"skip"), P(L"startTime", FormatTime2(a.start + 60))}),
            kResultChangeRefused);
  EXPECT_EQ(Rows("Name, StartTime, FilePath, Status", where)[0],
            (std::vector<std::string>{"B2", DbTime(b.start), path, "DVRSTATE_SKIP"}));
}

TEST_F(UpdateMediumTest, BadRequestsChangeNothingAndTheServiceGoesOn) {
  const int id = Published(L"M1", Values(L"Show", Future()));
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId, ProgramName) VALUES ('P1', 'x')");

  EXPECT_EQ(Update(L"nobody", {P(L"title", L"X")}), 0);
  EXPECT_EQ(Update(L"M1", {}), 0);
  // A pass id reaches the pass branch, never a schedule row.
  Update(L"P1", {P(L"title", L"X")});
  // Malformed requests fail whole: not even the leading title is applied.
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Y"), {L"genre", Value::Long(5)}}), 1);
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Y"), {L"duration", Value::Double(1.5)}}), 1);
  EXPECT_EQ(Call(Value::Array({Value::Long(0), Value::Str(L"M1"),
                               Value::Array({Value::Array({Value::Str(L"title")})})})),
            1);
  EXPECT_EQ(Call(Value::Array({Value::Str(L"zero"), Value::Str(L"M1")})), 1);
  std::vector<std::pair<std::wstring, Value>> many(10000, P(L"title", L"Z"));
  EXPECT_EQ(Update(L"M1", many), 1);
  EXPECT_EQ(Column(id, "Name"), "Show");

  // A deletion comes from the library: it is not asked again.
  EXPECT_EQ(Update(L"M1", {P(L"title", L"Fine")}), 0);
  EXPECT_EQ(Column(id, "Name"), "Fine");
  EXPECT_EQ(Update(L"M1", {}, 1), 0);
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(id)).empty());
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

// The module must not hold what a call-back needs while the library answers.
TEST_F(UpdateMediumTest, ALibraryThatSchedulesWhileItAnswersIsNotKeptWaiting) {
  const int pastId = Row(Values(L"Past", tev::Clock::Now() - 7200));

  // Taking in the missed row, the library schedules through the module.
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

class SyncWithTevMediaTest : public UpdateMediumTest {
 protected:
  struct Medium {
    std::wstring id, pvrState, mediaType;
  };
  static Value Listing(const std::vector<Medium>& media) {
    std::vector<Value> list;
    for (const Medium& m : media) {
      list.push_back(Value::Array({Value::Str(L"PVR"), Value::Str(L"path"), Value::Str(m.id),
                                   Value::Str(m.pvrState), Value::Str(m.mediaType)}));
    }
    return Value::Array({Value::Array(list)});
  }

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

  media_.SetReply(L"GetMediaFromSource", 0,
                  Listing({{L"M1", L"schedule", L"schedule.video.file.recorded.tv"},
                           {L"M2", L"recording", L"video.file.recorded.tv"},
                           {L"P1", L"", L"schedulePass.tv.channel"},
                           {L"M-orphan", L"schedule", L"schedule.video.file.recorded.tv"},
                           {L"P-orphan", L"", L"schedulePass.tv.channel"},
                           {L"M-gone", L"complete", L"deleted.video.file.recorded.tv"}}));
  Engine().Library().SyncWithTevMedia(Engine().Passes());

  // Orphans are marked deleted in one request; "M-gone" is already.
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
  EXPECT_EQ(StatesOf(media_, L"RP2").size(), 1u);
  EXPECT_TRUE(StatesOf(media_, L"RP1").empty());
}

TEST_F(SyncWithTevMediaTest, ALibraryThatFailsLosesNothing) {
  Published(L"M1", RowValues());
  // A refused or unreadable listing deletes nothing and offers the rows again.
  media_.SetReply(L"GetMediaFromSource", 7);
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 1u);
  media_.SetReply(L"GetMediaFromSource", 0, Value::Array({Value::Str(L"junk")}));
  Engine().Library().SyncWithTevMedia(Engine().Passes());
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 2u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia") + media_.CountOf(L"SetMediaAttributeList"), 0u);
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
  ASSERT_EQ(Add(L"Made meanwhile", tev::Clock::Now() + 7200, 1800), 0);
  db.Exec(
      "INSERT INTO SeasonPasses (TevMediumId, ProgramName, ChannelMimetype, Priority, "
      "StartDate) VALUES ('P-new', 'New', 'video/x-tv', 2, 20260102200000)");
  release.set_value();
  sync.join();

  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList"), 0u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 0u);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);

  // Without a readable passes table every pass medium would look like an orphan.
  beforeAnswer = [&db] { db.Exec("ALTER TABLE SeasonPasses RENAME TO Elsewhere"); };
  Engine().Library().SyncWithTevMedia(Engine().Passes());
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
  // Left by a crash long past its end: dropped before the library is compared.
  const int staleId =
      Row(Values(L"Stale", tev::Clock::Now() - 9000, 1800, L"video/x-tv", DVRSTATE_RECORDING));
  ASSERT_TRUE(Engine().Initialize());
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(staleId)).empty());
  EXPECT_EQ(AddMediaPaths(), (std::vector<std::set<std::wstring>>{{Path(id)}}));
  EXPECT_EQ(media_.CountOf(L"GetMediaFromSource"), 1u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
}

class FileQueriesTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    thumbnails_.SetFileMode(true);
  }
  static std::map<std::wstring, std::wstring> PairsOf(const FileDescription& list) {
    return std::map<std::wstring, std::wstring>(list.begin(), list.end());
  }
  static void Touch(const std::wstring& path) { std::ofstream(tev::WideToUtf8(path)) << "x"; }
  static bool Exists(const std::wstring& path) {
    return std::filesystem::exists(tev::WideToUtf8(path));
  }
};

using RemoveRecordingTest = FileQueriesTest;

TEST_F(FileQueriesTest, DescribesARecordingWithItsDurationText) {
  const struct {
    int32_t seconds;
    const wchar_t* text;
  } cases[] = {{59, L"59 sec"}, {3599, L"59 min"}, {3600, L"60 min"}, {-1, L"-1 sec"}};
  int n = 0;
  for (const auto& c : cases) {
    const std::wstring name = L"Show" + std::to_wstring(n), mediumId = L"M" + std::to_wstring(++n);
    const int id =
        Published(mediumId, Values(name, 1300000000, c.seconds, L"video/x-tv", DVRSTATE_COMPLETE));
    FileDescription reply;
    ASSERT_EQ(FileQueries::GetFileInfoFromID(mediumId, &reply), 0);
    auto pairs = PairsOf(reply);
    for (const auto& expected :
         std::map<std::wstring, std::wstring>{{L"Duration", c.text},
                                              {L"Medium", Path(id)},
                                              {L"Mimetype", L"video/x-ms-dvr"},
                                              {L"Name", name},
                                              {L"Channel", L"BBC One"},
                                              {L"Start Time", FormatTime3(1300000000)},
                                              {L"PlayPosition", L"0"}}) {
      EXPECT_EQ(pairs[expected.first], expected.second) << c.seconds;
    }
  }
  FileDescription none{{L"left", L"over"}};
  EXPECT_EQ(FileQueries::GetFileInfoFromID(L"M99", &none), kResultNoSuchSchedule);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileQueriesTest, ListKeepsInputOrderAndAnswersEmptyForIdsThatNameNoRecording) {
  Published(L"M1", Values(L"Alpha", 0));
  Published(L"M2", Values(L"Beta", 0));
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId, ProgramName) VALUES ('P1', 'x')");

  std::vector<FileDescription> reply;
  ASSERT_EQ(FileQueries::GetFileListInfoFromID({L"M2", L"nope", L"M1", L"P1", L"M2"}, &reply), 0);
  ASSERT_EQ(reply.size(), 5u);
  const wchar_t* expected[] = {L"Beta", nullptr, L"Alpha", nullptr, L"Beta"};
  for (size_t i = 0; i < 5; ++i) {
    auto pairs = PairsOf(reply[i]);
    if (expected[i] == nullptr) {
      EXPECT_TRUE(pairs.empty()) << i;
      continue;
    }
    EXPECT_EQ(pairs[L"title"], expected[i]) << i;
    EXPECT_EQ(pairs[L"mimeType"], L"video/x-ms-dvr");
    EXPECT_EQ(pairs[L"duration"], L"60 min");
    EXPECT_EQ(pairs.count(L"Subtitle") + pairs.count(L"PlayPosition"), 0u);
  }
}

TEST_F(FileQueriesTest, FileAndThumbnailOfARecordingButNotOfAPass) {
  const int id = Published(L"M1", Values(L"Show", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
  const std::wstring path = Path(id);
  Touch(path);
  Touch(path + L".jpg");

  FileLocation file, thumbnail;
  ASSERT_EQ(FileQueries::GetFilenameFromID(L"M1", &file), 0);
  EXPECT_EQ(std::make_pair(file.path, file.mimetype),
            std::make_pair(path, std::wstring(L"video/x-ms-dvr")));
  ASSERT_EQ(FileQueries::GetFilenameFromID(L"RT" + std::to_wstring(id), &thumbnail), 0);
  EXPECT_EQ(std::make_pair(thumbnail.path, thumbnail.mimetype),
            std::make_pair(path + L".jpg", std::wstring(L"image/jpeg")));

  FileLocation unknown, pass;
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"M7", &unknown), kResultNoSuchSchedule);
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"RT999", &unknown), kResultNoSuchSchedule);
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId) VALUES ('P1')");
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"P1", &pass), kResultNoSuchSchedule);
}

TEST_F(RemoveRecordingTest, PlansOfAPassStayDeletedAndOneOffPlansLeaveAndFreeTheirTuner) {
  const int64_t start = tev::Clock::Now() + 7200;
  const int episodeId = Published(L"M-episode", Values(L"Episode", start + 86400));
  const int planId = Row(Values(L"Plan", start));
  const int waitingId =
      Row(Values(L"Waiting", start + 600, 3600, L"video/x-tv", DVRSTATE_CONFLICT));
  Schedule::Update(episodeId, L"Owner", std::wstring(L"4"));

  EXPECT_EQ(Engine().Completion().RemoveRecording(episodeId, true, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(episodeId), "DVRSTATE_DELETED");
  ASSERT_EQ(media_.CountOf(L"RemoveImportedMedia"), 1u);
  EXPECT_EQ(BatchValues(Last(media_, L"RemoveImportedMedia"), L"tevMediumId"),
            std::vector<std::wstring>{L"M-episode"});

  // One tuner: removing the plan lets the conflicting one record.
  EXPECT_EQ(Engine().Completion().RemoveRecording(planId, false, false, tev::Clock::Now()), 0);
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(planId)).empty());
  EXPECT_EQ(Status(waitingId), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(StatesOf(media_, Path(waitingId)).back(), L"schedule");
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 1u);

  EXPECT_EQ(Engine().Completion().RemoveRecording(4711, true, false, tev::Clock::Now()), 0);
}

TEST_F(RemoveRecordingTest, ARunningRecordingStopsAndBecomesPartial) {
  ASSERT_EQ(Add(L"Live", tev::Clock::Now(), 3600, 1), 0);
  const int id = std::stoi(Rows("ID", "Status = 'DVRSTATE_RECORDING'").at(0).at(0));
  EXPECT_EQ(Engine().Completion().RemoveRecording(id, false, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(id), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
}

TEST_F(RemoveRecordingTest, FinishedRecordingLosesFileAndThumbnailButKeepsItsRow) {
  const int id = Published(L"M-done", Values(L"Show", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
  const std::wstring path = Path(id);
  Touch(path);
  Touch(path + L".jpg");
  Recorder().Thumbnails().Set(id, true);

  // Stop only: the recording is announced as stopped and nothing is deleted.
  EXPECT_EQ(Engine().Completion().RemoveRecording(id, true, true, tev::Clock::Now()), 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));

  EXPECT_EQ(Engine().Completion().RemoveRecording(id, true, false, tev::Clock::Now()), 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(Exists(path + L".jpg"));
  EXPECT_EQ(Status(id), "DVRSTATE_COMPLETE");
  // A recorded medium is marked deleted in the library, not dropped.
  ASSERT_EQ(media_.CountOf(L"SetMediaAttributeList"), 1u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

TEST_F(RemoveRecordingTest, AFileThatCannotBeDeletedAnswers108AndKeepsEverything) {
  const int doneId = Row(Values(L"Stuck", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
  const int failedId = Row(Values(L"Failed", 0, 3600, L"video/x-tv", DVRSTATE_ERROR));
  // A directory with something in it cannot be removed as a file.
  for (int id : {doneId, failedId}) {
    std::filesystem::create_directories(tev::WideToUtf8(Path(id)));
    Touch(Path(id) + L"/inside");
  }
  Touch(Path(doneId) + L".jpg");
  Recorder().Thumbnails().Set(doneId, true);

  EXPECT_EQ(Engine().Completion().RemoveRecording(doneId, true, false, tev::Clock::Now()),
            kResultRemoveFailed);
  EXPECT_TRUE(Exists(Path(doneId)));
  EXPECT_TRUE(Exists(Path(doneId) + L".jpg"));
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList") + media_.CountOf(L"RemoveImportedMedia"), 0u);
  EXPECT_NE(log_->Dump().find(L"Failed to remove Stuck"), std::wstring::npos);

  // A failed recording may have no file worth keeping: its removal goes on.
  EXPECT_EQ(Engine().Completion().RemoveRecording(failedId, false, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(failedId), "DVRSTATE_ERROR");
}

}  // namespace
}  // namespace enginetest
