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

namespace {

using enginetest::RowSpec;
using enginetest::StatesOf;

class Completion : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    env_.SetInstantSleep(true);  // the thumbnail delay passes at once
  }
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
    const RowSpec planned = Planned(c.name, c.before, start, c.expected);
    const int id = Insert(planned);
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
    const RowSpec planned = Planned(closed, closed, start);
    const int id = Insert(planned);
    const auto before = Rows("*", "ID = " + std::to_string(id));
    Engine().Completion().NotifyRecordComplete(10, W(planned.path), tev::Clock::Now());
    EXPECT_EQ(Rows("*", "ID = " + std::to_string(id)), before) << closed;
  }
  EXPECT_EQ(media_.CountOf(L"AddMedium"), published);
  EXPECT_EQ(listener_.CountOf(L"NotifyStopRecording"), names.size());
}

TEST_F(Completion, TheDescriptionGoesIntoTheFileAndAThumbnailIsAskedForOnce) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  const RowSpec planned = Planned("Described", "DVRSTATE_RECORDING", tev::Clock::Now() - 600, 600);
  const std::string& path = planned.path;
  ASSERT_TRUE(enginetest::WriteAsfVideo(path));
  const int id = Insert(planned);
  Engine().Completion().NotifyRecordComplete(600, W(path), tev::Clock::Now());

  TagLib::ASF::File file(path.c_str());
  ASSERT_TRUE(file.isValid());
  // Which attribute holds what is the metadata tests' business.
  EXPECT_EQ(file.tag()->title().to8Bit(true), "Described");
  const auto& genre = file.tag()->attribute("WM/Genre");
  ASSERT_FALSE(genre.isEmpty());
  EXPECT_EQ(genre.front().toString().to8Bit(true), "Drama");

  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(path)});
  EXPECT_EQ(Column(id, "ThumbnailState"), "requested");

  // A second report: the thumbnail is known by now, and audio never has one.
  Recorder().Thumbnails().Set(id, true);
  Engine().Completion().NotifyRecordComplete(600, W(path), tev::Clock::Now());
  RowSpec audio = planned;
  audio.mimetype = "audio/x-win";
  audio.path = audioDir_ + "/radio.wma";  // never written
  const int audioId = Insert(audio);
  Engine().Completion().NotifyRecordComplete(600, W(audio.path), tev::Clock::Now());
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 1u);
  // A file that cannot be opened is only logged; the row is closed anyway.
  EXPECT_EQ(Column(audioId, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::SetFileMetadata couldn't open file"));

  // A cancelled recording: its stream's end report changes nothing in the
  // closed row, but the piece it wrote is described like any recording.
  const std::string cancelledPath = PathFor("Cancelled");
  ASSERT_TRUE(enginetest::WriteAsfVideo(cancelledPath));
  const int cancelledId =
      Insert(Planned("Cancelled", "DVRSTATE_RECORDING", tev::Clock::Now() - 154));
  ASSERT_EQ(Engine().Completion().CancelScheduledRecording(cancelledId, tev::Clock::Now()), 0);
  const auto closed = Rows("*", "ID = " + std::to_string(cancelledId));
  ASSERT_EQ(Column(cancelledId, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  Engine().Completion().NotifyRecordComplete(154, W(cancelledPath), tev::Clock::Now());
  EXPECT_EQ(Rows("*", "ID = " + std::to_string(cancelledId)), closed);
  TagLib::ASF::File piece(cancelledPath.c_str());
  ASSERT_TRUE(piece.isValid());
  EXPECT_EQ(piece.tag()->title().to8Bit(true), "Cancelled");
}

TEST_F(Completion, AFailedRecordingSaysWhy) {
  auto published = [this](const std::string& path) {
    return enginetest::LastReasonOf(media_, W(path));
  };
  const std::wstring unwritable = L"the folder " + W(videoDir_) + L" is not writable by user ";

  // The recording folder refuses new files: one ERROR at the check, and a
  // due recording fails with the reason instead of asking the streamer.
  env_.SetNotWritable(true);
  Engine().Folders().LoadFolders();
  Engine().CheckRecordingFolders();
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedules: recordings will fail: " + unwritable));
  const RowSpec due = Planned("Due", "DVRSTATE_SCHEDULED", tev::Clock::Now());
  const int dueId = Insert(due);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  env_.SetNotWritable(false);
  EXPECT_EQ(Column(dueId, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"StartRecordingIfAppropriate: could not start recording "
                                       L"Due (#" + std::to_wstring(dueId) + L"): " + unwritable));
  EXPECT_EQ(published(due.path).rfind(unwritable, 0), 0u) << tev::ToStdUtf8(published(due.path));

  // A stream that ends at once without a file says that too.
  const RowSpec empty = Planned("Empty", "DVRSTATE_RECORDING", tev::Clock::Now() - 5);
  const int emptyId = Insert(empty);
  Engine().Completion().NotifyRecordComplete(0, W(empty.path), tev::Clock::Now());
  EXPECT_EQ(Column(emptyId, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(published(empty.path), L"the streamer wrote no file " + W(empty.path));
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"failed: the streamer wrote no file"));
}

TEST_F(Completion, StartedAndFailedReports) {
  const RowSpec video = Planned("Video", "DVRSTATE_RECORDING", tev::Clock::Now() - 60);
  const int videoId = Insert(video);
  RowSpec audio = video;
  audio.name = "Audio";
  audio.mimetype = "audio/x-win";
  audio.path = audioDir_ + "/audio.wma";
  const int audioId = Insert(audio);

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
  const RowSpec planned = Planned("Stopping", "DVRSTATE_RECORDING", tev::Clock::Now() - 60);
  Insert(planned);
  Engine().Completion().NotifyRecordStarted(W(planned.path));
  PVRVel::SetLive(nullptr);
  EXPECT_EQ(StatesOf(media_, W(planned.path)), std::vector<std::wstring>{L"recording"});
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 0u);
}

// Known and unknown files: FileServices.ThumbnailRequestsReachTheirServices.
TEST_F(Completion, ThumbnailNeededForAFileWithAQuoteInItsName) {
  // The quote is doubled in the raw insert.
  Insert(Planned("it''s quoted", "DVRSTATE_COMPLETE", tev::Clock::Now() - 7200));
  Engine().Completion().NotifyThumbnailNeeded(W(PathFor("it's quoted")));
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(PathFor("it's quoted"))});
}

}  // namespace
