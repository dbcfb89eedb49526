// The start-up reconciliation against a scripted library: orphans are
// deleted there, missing rows go back in one "AddMedia", missing passes
// are published, and wrongly shown states are republished.
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "tests/engine/RowFixture.h"

namespace enginetest {
namespace {

using peertest::Elem;
using peertest::Str;

class SyncWithTevMediaTest : public RowFixture {
 protected:
  // The passes the bare engine republishes, as the module wires them.
  void SetUp() override {
    RowFixture::SetUp();
    checker_.reset(new SeasonPassChecker(*engine_, work_, vel_->Peers()));
    passes_.reset(new SeasonPasses(*engine_, *checker_));
    engine_->SetPassKeeper(passes_.get());
  }
  void TearDown() override {
    engine_->SetPassKeeper(nullptr);
    passes_.reset();
    checker_.reset();
    RowFixture::TearDown();
  }
  struct Medium {
    std::wstring id, pvrState, mediaType;
  };
  void LibraryHolds(const std::vector<Medium>& media) {
    std::vector<Value> list;
    for (const Medium& m : media) {
      list.push_back(Value::Array({Value::Str(L"PVR"), Value::Str(L"path"), Value::Str(m.id),
                                   Value::Str(m.pvrState), Value::Str(m.mediaType)}));
    }
    media_.SetReply(L"GetMediaFromSource", 0, Value::Array({Value::Array(list)}));
  }
  int Published(const std::wstring& mediumId, RowValues values) {
    const int id = Row(values);
    Schedules::AssignTevMediumId(id, mediumId);
    return id;
  }
  // The "path" of every list of every "AddMedia" request.
  std::vector<std::set<std::wstring>> AddMediaPaths() {
    std::vector<std::set<std::wstring>> requests;
    for (const Value& in : media_.RequestsOf(L"AddMedia")) {
      Value lists = Elem(in.get(), 1);
      std::set<std::wstring> paths;
      for (long i = 0; i < VUtil::GetArrayLength(lists.get()); ++i) {
        std::wstring path;
        VUtil::FindPair(Elem(lists.get(), i).get(), L"path", &path);
        paths.insert(path);
      }
      requests.push_back(paths);
    }
    return requests;
  }

  PassWork work_;
  std::unique_ptr<SeasonPassChecker> checker_;
  std::unique_ptr<SeasonPasses> passes_;
};

TEST_F(SyncWithTevMediaTest, RepairsBothSides) {
  RowValues shown, wrong, missing1, missing2, deleted, unpublished;
  shown.name = L"Shown";
  wrong.name = L"Wrong";
  wrong.status = DVRSTATE_COMPLETE;
  missing1.name = L"Missing1";
  missing2.name = L"Missing2";
  missing2.status = DVRSTATE_MISSED;
  deleted.name = L"Deleted";
  deleted.status = DVRSTATE_DELETED;
  unpublished.name = L"Unpublished";
  Published(L"M1", shown);
  const int wrongId = Published(L"M2", wrong);
  const int missing1Id = Published(L"M3", missing1);
  const int missing2Id = Published(L"M4", missing2);
  Published(L"M5", deleted);
  const int unpublishedId = Row(unpublished);
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
  Engine().SyncWithTevMedia();

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
  EXPECT_EQ(PublishedStates(Path(wrongId)), (std::vector<std::wstring>{L"complete"}));
  EXPECT_TRUE(PublishedStates(Path(missing1Id)).empty());
  // Every row the library lacks, in one request; deleted rows stay out.
  EXPECT_EQ(AddMediaPaths(), (std::vector<std::set<std::wstring>>{
                                 {Path(missing1Id), Path(missing2Id), Path(unpublishedId)}}));
  EXPECT_NE(Column(unpublishedId, "TevMediumId"), "");
  // The pass the library lacks is published on its own.
  std::vector<std::wstring> passes;
  for (const Value& in : media_.RequestsOf(L"AddMedium")) {
    std::wstring path;
    VUtil::FindPair(Elem(in.get(), 1).get(), L"path", &path);
    if (path.compare(0, 2, L"RP") == 0) passes.push_back(path);
  }
  EXPECT_EQ(passes, (std::vector<std::wstring>{L"RP2"}));
}

TEST_F(SyncWithTevMediaTest, ALibraryThatFailsLosesNothing) {
  RowValues row;
  Published(L"M1", row);
  // A refused or unreadable listing deletes nothing and offers the rows
  // again.
  media_.SetReply(L"GetMediaFromSource", 7);
  Engine().SyncWithTevMedia();
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 1u);
  media_.SetReply(L"GetMediaFromSource", 0, Value::Array({Value::Str(L"junk")}));
  Engine().SyncWithTevMedia();
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 2u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia") + media_.CountOf(L"SetMediaAttributeList"), 0u);
  // No library at all: the sync ends at once.
  media_.Leave();
  Engine().SyncWithTevMedia();
  EXPECT_EQ(media_.CountOf(L"AddMedia"), 2u);
  EXPECT_EQ(Column(1, "TevMediumId"), "M1");
}

TEST_F(SyncWithTevMediaTest, ALateAnswerIsComparedWithTheTablesAsTheyAreWhenItArrives) {
  RowValues old;
  old.start = tev::Clock::Now() + 86400;
  Published(L"M1", old);
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
    std::vector<Value> list;
    for (const auto& m : std::vector<std::vector<std::wstring>>{
             {L"M1", L"schedule", L"schedule.video.file.recorded.tv"},
             {L"M-new", L"schedule", L"schedule.video.file.recorded.tv"},
             {L"P1", L"", L"schedulePass.tv.channel"},
             {L"P-new", L"", L"schedulePass.tv.channel"}}) {
      list.push_back(Value::Array({Value::Str(L"PVR"), Value::Str(L"path"), Value::Str(m[0]),
                                   Value::Str(m[1]), Value::Str(m[2])}));
    }
    Value::Array({Value::Array(list)}).CopyTo(out);
    return 0;
  });

  std::thread sync([this] { Engine().SyncWithTevMedia(); });
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
  Engine().SyncWithTevMedia();
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SyncWithTevMedia: could not read the season passes"));
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList"), 0u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

TEST_F(SyncWithTevMediaTest, EngineStartUpSettlesTheTableAndRepairsTheLibrary) {
  UseModuleEndpoint();
  PVRVel::SetLive(pvr_.get());
  struct StopEngine {
    Schedules& engine;
    ~StopEngine() {
      engine.Shutdown();
      PVRVel::SetLive(nullptr);
    }
  } stop{Engine()};
  RowValues plan;
  plan.start = tev::Clock::Now() + 86400;
  const int id = Published(L"M-lost", plan);
  // A recording an earlier crash left long past its end is dropped before
  // the library is compared.
  RowValues stale;
  stale.name = L"Stale";
  stale.start = tev::Clock::Now() - 9000;
  stale.duration = 1800;
  stale.status = DVRSTATE_RECORDING;
  const int staleId = Row(stale);
  ASSERT_TRUE(Engine().Initialize());
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(staleId)).empty());
  EXPECT_EQ(AddMediaPaths(), (std::vector<std::set<std::wstring>>{{Path(id)}}));
  EXPECT_EQ(media_.CountOf(L"GetMediaFromSource"), 1u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
}

}  // namespace
}  // namespace enginetest
