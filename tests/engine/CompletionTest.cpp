// The streamer's reports about a recording (started, failed, finished) and
// the thumbnail request, on a real database with the scripted peers of a
// loopback bus.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <taglib/asffile.h>

#include "db/Schedule.h"
#include "dvr/ThumbnailTable.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/RowsAndMedia.h"

namespace {

using enginetest::InsertRow;
using enginetest::RowSpec;
using enginetest::StatesOf;

class Completion : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    env_.SetInstantSleep(true);  // the thumbnail delay passes at once
    ClearThumbnailEntries();
  }
  void TearDown() override {
    ClearThumbnailEntries();
    EngineFixture::TearDown();
  }
  std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }
  std::string PathFor(const std::string& name) { return videoDir_ + "/" + name + ".asf"; }
};

TEST_F(Completion, FinishedRecordingsAreJudgedByTheirLength) {
  struct Case {
    const char* name;
    const char* before;
    int32_t expected;
    int32_t actual;
    const char* after;
    const wchar_t* published;
  } cases[] = {
      {"hour_ok", "DVRSTATE_RECORDING", 3600, 3300, "DVRSTATE_COMPLETE", L"complete"},
      {"hour_short", "DVRSTATE_RECORDING", 3600, 3000, "DVRSTATE_COMPLETE_PARTIAL", L"partial"},
      {"hour_edge", "DVRSTATE_RECORDING", 3600, 3240, "DVRSTATE_COMPLETE", L"complete"},
      {"hour_below", "DVRSTATE_RECORDING", 3600, 3239, "DVRSTATE_COMPLETE_PARTIAL", L"partial"},
      {"hundred", "DVRSTATE_RECORDING", 100, 85, "DVRSTATE_COMPLETE", L"complete"},
      {"hundred_21", "DVRSTATE_RECORDING", 100, 79, "DVRSTATE_COMPLETE_PARTIAL", L"partial"},
      {"over", "DVRSTATE_RECORDING", 600, 700, "DVRSTATE_COMPLETE", L"complete"},
      {"fifteen", "DVRSTATE_RECORDING", 3600, 15, "DVRSTATE_ERROR", L"error"},
      {"twenty", "DVRSTATE_RECORDING", 30, 20, "DVRSTATE_COMPLETE", L"complete"},
      {"busy", "DVRSTATE_TUNER_BUSY", 3600, 15, "DVRSTATE_COMPLETE_PARTIAL", L"partial"},
      {"noconnect", "DVRSTATE_COULD_NOT_CONNECT", 30, 15, "DVRSTATE_COMPLETE", L"complete"},
      {"mce", "DVRSTATE_MCE_RUNNING", 3600, 0, "DVRSTATE_COMPLETE_PARTIAL", L"partial"},
  };
  const int64_t start = tev::Clock::Now() - 7200;
  env_.Shift(1000);  // the end written is the product's now
  const int64_t now = tev::Clock::Now();
  std::vector<std::wstring> names;
  for (const Case& c : cases) {
    RowSpec planned;
    planned.name = c.name;
    planned.status = c.before;
    planned.start = start;
    planned.duration = c.expected;
    planned.path = PathFor(c.name);
    const int id = InsertRow(dbPath_, planned);
    Engine().Completion().NotifyRecordComplete(c.actual, W(planned.path), tev::Clock::Now());

    EXPECT_EQ(Column(id, "Status"), c.after) << c.name;
    EXPECT_EQ(Column(id, "Duration"), std::to_string(c.actual)) << c.name;
    EXPECT_LE(std::llabs(GetTime3(W(Column(id, "EndTime"))) - now), 2) << c.name;
    EXPECT_EQ(StatesOf(media_, W(planned.path)), std::vector<std::wstring>{c.published}) << c.name;
    names.push_back(W(c.name));
  }
  // Every report told the listeners which recording stopped, in order.
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", names.size(), 5000));
  EXPECT_EQ(enginetest::FirstArguments(listener_, L"NotifyStopRecording"), names);
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStopRecording").get(), 2), L"BBC One");

  // A report for a file the table does not know, or for a row already
  // closed (a stream that ran on past a cancel or a restart), changes and
  // tells nothing.
  const size_t published = media_.CountOf(L"AddMedium");
  Engine().Completion().NotifyRecordComplete(3600, W(PathFor("nobody")), tev::Clock::Now());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"and status DVRSTATE_RECORDING, no such file in DB"));
  for (const char* closed : {"DVRSTATE_COMPLETE", "DVRSTATE_COMPLETE_PARTIAL", "DVRSTATE_RETRY",
                             "DVRSTATE_ERROR"}) {
    RowSpec planned;
    planned.name = closed;
    planned.status = closed;
    planned.start = start;
    planned.path = PathFor(closed);
    const int id = InsertRow(dbPath_, planned);
    const auto before = Rows("*", "ID = " + std::to_string(id));
    Engine().Completion().NotifyRecordComplete(10, W(planned.path), tev::Clock::Now());
    EXPECT_EQ(Rows("*", "ID = " + std::to_string(id)), before) << closed;
  }
  EXPECT_EQ(media_.CountOf(L"AddMedium"), published);
  EXPECT_EQ(listener_.CountOf(L"NotifyStopRecording"), names.size());
}

TEST_F(Completion, TheDescriptionGoesIntoTheFileAndAThumbnailIsAskedForOnce) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  const std::string path = PathFor("described");
  ASSERT_TRUE(enginetest::WriteAsfVideo(path));
  RowSpec planned;
  planned.name = "Described";
  planned.start = tev::Clock::Now() - 600;
  planned.duration = 600;
  planned.path = path;
  const int id = InsertRow(dbPath_, planned);
  Engine().Completion().NotifyRecordComplete(600, W(path), tev::Clock::Now());

  TagLib::ASF::File file(path.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ(file.tag()->title().to8Bit(true), "Described");
  auto text = [&](const char* name) {
    const auto& list = file.tag()->attribute(name);
    return list.isEmpty() ? std::string("<none>") : list.front().toString().to8Bit(true);
  };
  EXPECT_EQ(text("WM/Genre"), "Drama");
  EXPECT_EQ(text("WM/SubTitle"), "Part 1");
  EXPECT_EQ(text("WM/SubTitleDescription"), "A story");
  EXPECT_EQ(text("WM/MediaStationName"), "BBC One");
  EXPECT_EQ(text("WM/MediaStationCallSign"), "BBC One");
  EXPECT_EQ(text("WM/MediaOriginalChannel"), "ch1");

  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(path)});
  EXPECT_EQ(Column(id, "ThumbnailState"), "requested");

  // A second report: the thumbnail is known by now, and audio never has one.
  SetThumbnailEntry(id, true);
  Engine().Completion().NotifyRecordComplete(600, W(path), tev::Clock::Now());
  RowSpec audio = planned;
  audio.mimetype = "audio/x-win";
  audio.path = audioDir_ + "/radio.wma";  // never written
  const int audioId = InsertRow(dbPath_, audio);
  Engine().Completion().NotifyRecordComplete(600, W(audio.path), tev::Clock::Now());
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 1u);
  // A file that cannot be opened is only logged; the row is closed anyway.
  EXPECT_EQ(Column(audioId, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::SetFileMetadata couldn't open file"));

  // A cancelled recording: its stream's end report changes nothing in the
  // closed row, but the piece it wrote is described like any recording.
  const std::string cancelledPath = PathFor("cancelled");
  ASSERT_TRUE(enginetest::WriteAsfVideo(cancelledPath));
  RowSpec cancelled;
  cancelled.name = "Cancelled";
  cancelled.start = tev::Clock::Now() - 154;
  cancelled.path = cancelledPath;
  const int cancelledId = InsertRow(dbPath_, cancelled);
  ASSERT_EQ(Engine().Completion().CancelScheduledRecording(cancelledId, tev::Clock::Now()), 0);
  const auto closed = Rows("*", "ID = " + std::to_string(cancelledId));
  ASSERT_EQ(Column(cancelledId, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  Engine().Completion().NotifyRecordComplete(154, W(cancelledPath), tev::Clock::Now());
  EXPECT_EQ(Rows("*", "ID = " + std::to_string(cancelledId)), closed);
  TagLib::ASF::File piece(cancelledPath.c_str());
  ASSERT_TRUE(piece.isValid());
  EXPECT_EQ(piece.tag()->title().to8Bit(true), "Cancelled");
  const auto& station = piece.tag()->attribute("WM/MediaStationName");
  ASSERT_FALSE(station.isEmpty());
  EXPECT_EQ(station.front().toString().to8Bit(true), "BBC One");
}

TEST_F(Completion, AFailedRecordingSaysWhy) {
  // The latest "failureReason" published for the path ("<none>" without).
  auto published = [this](const std::string& path) {
    std::wstring reason = L"<none>";
    for (const auto& request : media_.RequestsOf(L"AddMedium")) {
      AutoVariant list;
      VUtil::GetElement(request.get(), 1, &list);
      std::wstring at, why;
      VUtil::FindPair(list.get(), L"path", &at);
      if (at != W(path)) continue;
      reason = VUtil::FindPair(list.get(), L"failureReason", &why) ? why : L"<none>";
    }
    return reason;
  };
  const std::wstring unwritable = L"the folder " + W(videoDir_) + L" is not writable by user ";

  // The recording folder refuses new files: one ERROR at the check, and a
  // due recording fails with the reason instead of asking the streamer.
  env_.SetNotWritable(true);
  Engine().Folders().LoadFolders();
  Engine().CheckRecordingFolders();
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedules: recordings will fail: " + unwritable));
  RowSpec due;
  due.name = "Due";
  due.status = "DVRSTATE_SCHEDULED";
  due.start = tev::Clock::Now();
  due.path = PathFor("due");
  const int dueId = InsertRow(dbPath_, due);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  env_.SetNotWritable(false);
  EXPECT_EQ(Column(dueId, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"StartRecordingIfAppropriate: could not start recording "
                                       L"Due (#" + std::to_wstring(dueId) + L"): " + unwritable));
  EXPECT_EQ(published(due.path).rfind(unwritable, 0), 0u) << tev::ToStdUtf8(published(due.path));

  // A stream that ends at once without a file says that too.
  RowSpec empty;
  empty.name = "Empty";
  empty.start = tev::Clock::Now() - 5;
  empty.path = PathFor("never-written");
  const int emptyId = InsertRow(dbPath_, empty);
  Engine().Completion().NotifyRecordComplete(0, W(empty.path), tev::Clock::Now());
  EXPECT_EQ(Column(emptyId, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(published(empty.path), L"the streamer wrote no file " + W(empty.path));
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"failed: the streamer wrote no file"));
}

TEST_F(Completion, StartedAndFailedReports) {
  RowSpec video;
  video.name = "Video";
  video.start = tev::Clock::Now() - 60;
  video.path = PathFor("video");
  const int videoId = InsertRow(dbPath_, video);
  RowSpec audio = video;
  audio.name = "Audio";
  audio.mimetype = "audio/x-win";
  audio.path = audioDir_ + "/audio.wma";
  const int audioId = InsertRow(dbPath_, audio);

  Engine().Completion().NotifyRecordStarted(W(video.path));
  Engine().Completion().NotifyRecordStartedAsync(W(audio.path));
  EXPECT_EQ(StatesOf(media_, W(video.path)), std::vector<std::wstring>{L"recording"});
  EXPECT_EQ(StatesOf(media_, W(audio.path)), std::vector<std::wstring>{L"recording"});
  // The thumbnail is asked for later, on the engine's own thread.
  ASSERT_TRUE(thumbnails_.WaitFor(L"Extract Image From Video", 1, 10000));
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(video.path)});
  Engine().Completion().NotifyRecordStarted(W(PathFor("unknown")));
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"NotifyRecordStarted; not found "));
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 2u);

  // The web recorder gives up: the row is an error and the listeners hear
  // of the change; a row that is no longer recording keeps its status.
  listener_.ClearRequests();
  Engine().Completion().NotifyRecordFailedAsync(W(video.path), tev::Clock::Now());
  EXPECT_EQ(Column(videoId, "Status"), "DVRSTATE_ERROR");
  ASSERT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
  // The list sent holds only what still records.
  const tev::peers::Value list = Last(listener_, L"NotifyPVRRecordingChange");
  ASSERT_EQ(VUtil::GetArrayLength(list.get()), 1);
  EXPECT_EQ(peertest::Str(peertest::Elem(list.get(), 0).get(), 0), L"Audio");
  EXPECT_EQ(StatesOf(media_, W(video.path)), (std::vector<std::wstring>{L"recording", L"error"}));

  dbtest::RawDb(dbPath_).Exec("UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE' WHERE ID = " +
                              std::to_string(audioId));
  Engine().Completion().NotifyRecordFailedAsync(W(audio.path), tev::Clock::Now());
  EXPECT_EQ(Column(audioId, "Status"), "DVRSTATE_COMPLETE");
  // Nor is it shown again as if the report had changed it.
  EXPECT_EQ(StatesOf(media_, W(audio.path)), std::vector<std::wstring>{L"recording"});
  Engine().Completion().NotifyRecordFailedAsync(L"/no/such/file.asf", tev::Clock::Now());
  EXPECT_EQ(Rows("Status", "Status = 'DVRSTATE_ERROR'").size(), 1u);
}

TEST_F(Completion, TheStopEventEndsTheWaitBeforeTheThumbnail) {
  UseModuleEndpoint();
  PVRVel::SetLive(pvr_.get());
  pvr_->StopEvent().Set();
  RowSpec planned;
  planned.start = tev::Clock::Now() - 60;
  planned.path = PathFor("stopping");
  InsertRow(dbPath_, planned);
  Engine().Completion().NotifyRecordStarted(W(planned.path));
  PVRVel::SetLive(nullptr);
  EXPECT_EQ(StatesOf(media_, W(planned.path)), std::vector<std::wstring>{L"recording"});
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 0u);
}

TEST_F(Completion, ThumbnailNeededOnlyForKnownFiles) {
  RowSpec planned;
  planned.status = "DVRSTATE_COMPLETE";
  planned.start = tev::Clock::Now() - 7200;
  planned.path = videoDir_ + "/it's quoted.asf";
  // The quote must be doubled in the raw insert too.
  RowSpec raw = planned;
  raw.path = videoDir_ + "/it''s quoted.asf";
  InsertRow(dbPath_, raw);
  Engine().Completion().NotifyThumbnailNeeded(W(planned.path));
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(planned.path)});
  Engine().Completion().NotifyThumbnailNeeded(W(PathFor("missing")));
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 1u);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"NotifyThumbnailNeeded: Could not find database entry"));
}

}  // namespace
