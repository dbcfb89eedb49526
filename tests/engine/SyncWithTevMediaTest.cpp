// The start-up reconciliation against a scripted library: orphans are
// deleted there, missing rows go back in one "AddMedia", missing passes
// are published, and wrongly shown states are republished.
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using peertest::Elem;
using peertest::Str;

class SyncWithTevMediaTest : public EngineFixture {
 protected:
  // The module's engine, with the passes it republishes.
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
  }
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
