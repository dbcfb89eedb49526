// Cancel and retry, and the housekeeping that keeps rows consistent across
// restarts and over time, on a real database with the scripted peers of a
// loopback bus. Time moves by shifting the product's clock.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/Schedule.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::RowSpec;
using enginetest::StatesOf;
using enginetest::Value;
namespace fs = std::filesystem;

class Housekeeping : public enginetest::EngineFixture {
 protected:
  int64_t TimeOf(int id, const std::string& column) { return GetTime3(W(Column(id, column))); }
};

TEST_F(Housekeeping, CancelStopsARecordingAndOnlyRepublishesAPlan) {
  ASSERT_EQ(Add(L"Live", 0, 3600, 1), 0);
  const int live = std::stoi(Rows("ID")[0][0]);
  ASSERT_EQ(Column(live, "Status"), "DVRSTATE_RECORDING");
  ASSERT_EQ(streamer_.ActiveStreams().size(), 1u);
  const int32_t stream = streamer_.ActiveStreams().begin()->first;

  env_.Shift(600);
  EXPECT_EQ(Engine().Completion().CancelScheduledRecording(live, tev::Clock::Now()), 0);
  ASSERT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_EQ(VUtil::GetLongElement(Last(streamer_, L"StopStream").get(), 0), stream);
  EXPECT_TRUE(streamer_.ActiveStreams().empty());
  EXPECT_EQ(Column(live, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_LE(std::llabs(TimeOf(live, "EndTime") - tev::Clock::Now()), 2);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStopRecording").get(), 0), L"Live");
  // The library is shown the end at once: the stream's end report, whenever
  // it comes, changes nothing.
  const std::wstring livePath = W(Column(live, "FilePath"));
  ASSERT_FALSE(StatesOf(media_, livePath).empty());
  EXPECT_EQ(StatesOf(media_, livePath).back(), L"partial");

  // A plan: the table keeps it, the library is shown it as partial.
  const int64_t later = tev::Clock::Now() + 7200;
  ASSERT_EQ(Add(L"Later", later, 1800), 0);
  const int plan = std::stoi(Rows("ID", "Name = 'Later'")[0][0]);
  const auto before = Rows("*", "ID = " + std::to_string(plan));
  const std::wstring planPath = W(Column(plan, "FilePath"));
  EXPECT_EQ(Engine().Completion().CancelScheduledRecording(plan, tev::Clock::Now()), 0);
  EXPECT_EQ(Rows("*", "ID = " + std::to_string(plan)), before);
  EXPECT_EQ(StatesOf(media_, planPath), (std::vector<std::wstring>{L"schedule", L"partial"}));
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 2, 5000));
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStopRecording").get(), 0), L"Later");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 1u);

  // Nothing to cancel.
  const size_t published = media_.CountOf(L"AddMedium");
  EXPECT_EQ(Engine().Completion().CancelScheduledRecording(9999, tev::Clock::Now()), 0);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), published);
}

TEST_F(Housekeeping, ReRecordingNeverWritesOverARecordedFile) {
  tv_.SetTuners({{L"Tuner 1", L"video/x-tv"}, {L"Tuner 2", L"video/x-tv"}});
  ASSERT_EQ(Add(L"Film", 0, 3600, 1), 0);
  const int first = std::stoi(Rows("ID")[0][0]);
  const std::string recorded = Column(first, "FilePath");
  std::ofstream(recorded) << std::string(100000, 'r');  // what its stream wrote
  env_.Shift(154);
  ASSERT_EQ(Engine().Completion().CancelScheduledRecording(first, tev::Clock::Now()), 0);
  ASSERT_EQ(Column(first, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  streamer_.ClearRequests();

  // A retry keeps the earlier part in its row and records into a row and a
  // file of its own, named in the counter form of the earlier one.
  ASSERT_EQ(Engine().Completion().RetrySchedule(first, tev::Clock::Now()), 0);
  const std::string counter = recorded.substr(0, recorded.size() - 4) + " 1.asf";
  EXPECT_EQ(Column(first, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(Column(first, "FilePath"), recorded);
  EXPECT_EQ(fs::file_size(recorded), 100000u);
  const auto again = Rows("ID, FilePath, Status", "ID != " + std::to_string(first));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0][1], counter);
  EXPECT_EQ(again[0][2], "DVRSTATE_RECORDING");
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(VUtil::GetStringElement(Last(streamer_, L"StartStream").get(), 11), W(counter));
  EXPECT_EQ(StatesOf(media_, W(recorded)).back(), L"partial");
  EXPECT_EQ(StatesOf(media_, W(counter)).back(), L"recording");
  // Retrying the recording in progress starts nothing.
  ASSERT_EQ(Engine().Completion().RetrySchedule(std::stoi(again[0][0]), tev::Clock::Now()), 0);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);

  // A planned row whose file is on disk already when its time comes: the
  // file stays, as a partial recording, and the row records elsewhere.
  const std::string left = PathFor("Left");
  std::ofstream(left) << std::string(5000, 'l');
  const int planned = Insert(Planned("Left", "DVRSTATE_SCHEDULED", tev::Clock::Now(), 1800));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Column(planned, "Status"), "DVRSTATE_RECORDING");
  EXPECT_NE(Column(planned, "FilePath"), left);
  EXPECT_EQ(VUtil::GetStringElement(Last(streamer_, L"StartStream").get(), 11),
            W(Column(planned, "FilePath")));
  const auto kept = Rows("Status, Name", "FilePath = '" + left + "'");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0], (std::vector<std::string>{"DVRSTATE_COMPLETE_PARTIAL", "Left"}));
  EXPECT_EQ(fs::file_size(left), 5000u);
}

TEST_F(Housekeeping, ARestartInTheMiddleResumesTheRestIntoANewFile) {
  ASSERT_EQ(Add(L"Movie", 0, 3600, 1), 0);
  const int32_t movieStream = VUtil::GetLongElement(Last(streamer_, L"StartStream").get(), 1);
  const auto first = Rows("ID, FilePath");
  ASSERT_EQ(first.size(), 1u);
  tv_.SetTuners({{L"Tuner 1", L"video/x-tv"}, {L"Tuner 2", L"video/x-tv"}});
  Engine().StartStop().ResetTunerCountCache();
  const int movie = std::stoi(first[0][0]);
  const std::string oldPath = first[0][1];
  RowSpec withUrl = Planned("Episode", "DVRSTATE_RECORDING", tev::Clock::Now(), 3600);
  withUrl.episodeUrl = "http://example.invalid/e1";
  const int episode = Insert(withUrl);

  // The process dies twenty minutes in; a new one knows no streams.
  env_.Shift(1200);
  Restart();
  streamer_.ClearRequests();
  media_.ClearRequests();
  const int64_t now = tev::Clock::Now();
  Engine().Housekeeping().ResumeRecordings();

  EXPECT_EQ(Column(movie, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_LE(std::llabs(TimeOf(movie, "EndTime") - now), 2);
  EXPECT_EQ(Column(episode, "Status"), "DVRSTATE_RETRY");
  // The old stream is told to stop: the streamer may still run it.
  ASSERT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_EQ(VUtil::GetLongElement(Last(streamer_, L"StopStream").get(), 0), movieStream);

  const auto resumed = Rows("ID, Name, Status, FilePath, StartTime, EndTime",
                            "ID > " + std::to_string(episode));
  ASSERT_EQ(resumed.size(), 2u) << tev::ToStdUtf8(log_->Dump());
  for (const auto& row : resumed) {
    EXPECT_EQ(row[2], "DVRSTATE_RECORDING") << row[1];
    EXPECT_NE(row[3], oldPath);
    EXPECT_EQ(fs::path(row[3]).parent_path().string(), videoDir_);
    EXPECT_LE(std::llabs(GetTime3(W(row[4])) - now), 2);
    EXPECT_LE(std::llabs(GetTime3(W(row[5])) - (now + 2400)), 2) << row[1];
  }
  EXPECT_EQ(resumed[0][1], "Movie");
  // Resumed recordings go out without the episode address.
  EXPECT_EQ(Rows("EpisodeUrl", "ID = " + resumed[1][0])[0][0], "");
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 2u);
  const auto starts = streamer_.RequestsOf(L"StartStream");
  EXPECT_EQ(tev::ToStdUtf8(peertest::Str(starts[0].get(), 11)), resumed[0][3]);
  EXPECT_GE(VUtil::GetLongElement(starts[0].get(), 10), 2398);

  // The retry was published with the flag clear, the new rows with it set.
  bool retrySeen = false;
  for (const auto& p : enginetest::PublishedMedia(media_)) {
    if (p.state == L"retry") {
      retrySeen = true;
      EXPECT_FALSE(p.flag);
    }
    if (p.path == W(resumed[0][3])) {
      EXPECT_TRUE(p.flag);
    }
  }
  EXPECT_TRUE(retrySeen);

  // Another restart inside the same hour leaves the closed rows alone.
  Restart();
  streamer_.ClearRequests();
  env_.Shift(60);
  Engine().Housekeeping().ResumeRecordings();
  EXPECT_EQ(Column(movie, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(Rows("ID", "Name = 'Movie'").size(), 3u);  // the resumed one resumed once more
  EXPECT_EQ(Rows("ID", "Name = 'Movie' AND Status = 'DVRSTATE_RECORDING'").size(), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 2u);
}

TEST_F(Housekeeping, TheListInProgressFirstClosesForgottenRecordings) {
  const int64_t now = tev::Clock::Now();
  const int orphan = Insert(Planned("orphan", "DVRSTATE_RECORDING", now - 1920, 1800));
  const int grace = Insert(Planned("grace", "DVRSTATE_RECORDING", now - 1830, 1800));
  const int running = Insert(Planned("running", "DVRSTATE_RECORDING", now - 60, 1800));

  std::vector<CurrentRecording> list;
  ASSERT_EQ(Engine().Completion().GetCurrentlyRecording(&list, true), 0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, L"grace");
  EXPECT_EQ(list[1].name, L"running");
  EXPECT_EQ(Column(orphan, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_EQ(Column(grace, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(Column(running, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(StatesOf(media_, W(PathFor("orphan"))), std::vector<std::wstring>{L"complete"});
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);

  // A minute on, the one in its grace period goes too.
  env_.Shift(60);
  ASSERT_EQ(Engine().Completion().GetCurrentlyRecording(&list, true), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Column(grace, "Status"), "DVRSTATE_COMPLETE");
}

TEST_F(Housekeeping, OrphansOfThePreviousProcessBecomePartialOnce) {
  const int64_t now = tev::Clock::Now();
  Insert(Planned("a", "DVRSTATE_RECORDING", now - 600, 1800));
  Insert(Planned("b", "DVRSTATE_RECORDING", now - 7200, 1800));
  const int past = Insert(Planned("past", "DVRSTATE_SCHEDULED", now - 7200, 1800));
  // The thumbnail service already has b's thumbnail.
  const std::wstring bThumb = W(PathFor("b")) + L".jpg";
  thumbnails_.SetHandler(L"Is Thumbnail In DB", [&](const VARIANT& in, VARIANT* out) {
    Value::Array({Value::Long(VUtil::GetStringElement(in, 0) == bThumb ? 1 : 0)}).CopyTo(out);
    return 0;
  });

  // The rows themselves: MonitorPass.RowsLeftByACrashAreSettledButNotThoseRecordingNow.
  Engine().ChangeRecordingToCompletePartial(tev::Clock::Now());
  EXPECT_EQ(Column(past, "Status"), "DVRSTATE_MISSED");
  EXPECT_EQ(StatesOf(media_, W(PathFor("a"))), std::vector<std::wstring>{L"partial"});
  EXPECT_EQ(StatesOf(media_, W(PathFor("b"))), std::vector<std::wstring>{L"partial"});
  EXPECT_EQ(thumbnails_.CountOf(L"Is Thumbnail In DB"), 2u);
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(PathFor("a"))});

  // Rows recording now belong to this run: a second call leaves them; the
  // engine of the next run settles them.
  const int c = Insert(Planned("c", "DVRSTATE_RECORDING", now - 60, 1800));
  Engine().ChangeRecordingToCompletePartial(tev::Clock::Now());
  EXPECT_EQ(Column(c, "Status"), "DVRSTATE_RECORDING");
  Restart();
  Engine().ChangeRecordingToCompletePartial(tev::Clock::Now());
  EXPECT_EQ(Column(c, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
}

TEST_F(Housekeeping, StopAllRecordingsClosesRowsWithoutStoppingStreams) {
  ASSERT_EQ(Add(L"Streaming", 0, 3600, 1), 0);
  const int streaming = std::stoi(Rows("ID")[0][0]);
  const int64_t now = tev::Clock::Now();
  const int plain = Insert(Planned("plain", "DVRSTATE_RECORDING", now - 600, 1800));
  RowSpec withUrl = Planned("url", "DVRSTATE_RECORDING", now - 600, 1800);
  withUrl.episodeUrl = "http://example.invalid/e2";
  const int url = Insert(withUrl);
  const int future = Insert(Planned("future", "DVRSTATE_RECORDING", now + 600, 1800));
  const int done = Insert(Planned("done", "DVRSTATE_COMPLETE", now - 600, 1800));

  env_.Shift(100);
  Engine().Housekeeping().StopAllRecordings(tev::Clock::Now());
  EXPECT_EQ(Column(plain, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_NEAR(std::stoi(Column(plain, "Duration")), 700, 2);
  EXPECT_EQ(Column(streaming, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_NEAR(std::stoi(Column(streaming, "Duration")), 100, 2);
  EXPECT_EQ(Column(url, "Status"), "DVRSTATE_RETRY");
  EXPECT_EQ(Column(url, "Duration"), "1800");
  EXPECT_EQ(Column(future, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(Column(done, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
}

}  // namespace
