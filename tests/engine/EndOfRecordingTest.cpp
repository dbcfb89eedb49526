// How recordings end: the streamer's reports, cancel, retry and housekeeping across
// restarts, on a real database with scripted peers; a "crash" is a fresh engine.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <taglib/asffile.h>

#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "dvr/StreamStore.h"
#include "dvr/ThumbnailTable.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::RowSpec;
using enginetest::StatesOf;
using enginetest::Value;
namespace fs = std::filesystem;

// "title|value" of an ASF file; empty when it cannot be read.
std::string Described(const std::string& path, const char* attribute) {
  TagLib::ASF::File file(path.c_str());
  if (!file.isValid()) return "";
  const auto& values = file.tag()->attribute(attribute);
  return file.tag()->title().to8Bit(true) + "|" +
         (values.isEmpty() ? "" : values.front().toString().to8Bit(true));
}

using Housekeeping = enginetest::EngineFixture;

class Resume : public Housekeeping {
 protected:
  // Records `name` now for an hour; its ID, file and stream id.
  int RecordNow(const std::wstring& name, std::string* path, long* stream) {
    EXPECT_EQ(Add(name, 0, 3600, 1), 0);
    const auto row = Rows("ID, FilePath", "Name = '" + tev::ToStdUtf8(name) + "'");
    EXPECT_EQ(row.size(), 1u);
    *path = row[0][1];
    *stream = Recorder().GetStreamId(tev::FromStdUtf8(*path));
    EXPECT_NE(*stream, 0);
    return std::stoi(row[0][0]);
  }
};

TEST_F(Housekeeping, CancelStopsARecordingAndOnlyRepublishesAPlan) {
  ASSERT_EQ(Add(L"Live", 0, 3600, 1), 0);
  const int live = std::stoi(Rows("ID")[0][0]);
  ASSERT_EQ(Column(live, "Status"), "DVRSTATE_RECORDING");
  ASSERT_EQ(streamer_.ActiveStreams().size(), 1u);

  env_.Shift(600);
  EXPECT_EQ(Engine().Completion().CancelScheduledRecording(live, tev::Clock::Now()), 0);
  EXPECT_TRUE(streamer_.ActiveStreams().empty());
  EXPECT_EQ(Column(live, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_LE(std::llabs(GetTime3(W(Column(live, "EndTime"))) - tev::Clock::Now()), 2);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStopRecording").get(), 0), L"Live");
  // Shown at once: the stream's end report, whenever it comes, changes nothing.
  const std::wstring livePath = W(Column(live, "FilePath"));
  ASSERT_FALSE(StatesOf(media_, livePath).empty());
  EXPECT_EQ(StatesOf(media_, livePath).back(), L"partial");

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

  // The retry records into a row and a file of its own ("<name> 1.asf").
  ASSERT_EQ(Engine().Completion().RetrySchedule(first, tev::Clock::Now()), 0);
  const std::string counter = recorded.substr(0, recorded.size() - 4) + " 1.asf";
  const auto rows = Rows("ID, FilePath, Status");
  EXPECT_EQ(rows, (Table{{std::to_string(first), recorded, "DVRSTATE_COMPLETE_PARTIAL"},
                         {rows.back()[0], counter, "DVRSTATE_RECORDING"}}));
  EXPECT_EQ(fs::file_size(recorded), 100000u);
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(VUtil::GetStringElement(Last(streamer_, L"StartStream").get(), 11), W(counter));
  EXPECT_EQ(StatesOf(media_, W(recorded)).back(), L"partial");
  EXPECT_EQ(StatesOf(media_, W(counter)).back(), L"recording");
  ASSERT_EQ(Engine().Completion().RetrySchedule(std::stoi(rows.back()[0]), tev::Clock::Now()), 0);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);

  // A file already on disk when its row is due stays, as a partial recording.
  const std::string left = PathFor("Left");
  std::ofstream(left) << std::string(5000, 'l');
  const int planned = Insert(Planned("Left", "DVRSTATE_SCHEDULED", tev::Clock::Now(), 1800));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Column(planned, "Status"), "DVRSTATE_RECORDING");
  EXPECT_NE(Column(planned, "FilePath"), left);
  EXPECT_EQ(VUtil::GetStringElement(Last(streamer_, L"StartStream").get(), 11),
            W(Column(planned, "FilePath")));
  EXPECT_EQ(Rows("Status, Name", "FilePath = '" + left + "'"),
            (Table{{"DVRSTATE_COMPLETE_PARTIAL", "Left"}}));
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
  EXPECT_LE(std::llabs(GetTime3(W(Column(movie, "EndTime"))) - now), 2);
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
  std::set<std::pair<std::wstring, bool>> flags;
  for (const auto& p : enginetest::PublishedMedia(media_)) {
    if (p.state == L"retry" || p.path == W(resumed[0][3])) flags.emplace(p.state, p.flag);
  }
  EXPECT_EQ(flags,
            (std::set<std::pair<std::wstring, bool>>{{L"retry", false}, {L"recording", true}}));

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
  Insert(Planned("orphan", "DVRSTATE_RECORDING", now - 1920, 1800));
  const int grace = Insert(Planned("grace", "DVRSTATE_RECORDING", now - 1830, 1800));
  Insert(Planned("running", "DVRSTATE_RECORDING", now - 60, 1800));

  std::vector<CurrentRecording> list;
  ASSERT_EQ(Engine().Completion().GetCurrentlyRecording(&list, true), 0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, L"grace");
  EXPECT_EQ(list[1].name, L"running");
  EXPECT_EQ(Rows("Status"),
            (Table{{"DVRSTATE_COMPLETE"}, {"DVRSTATE_RECORDING"}, {"DVRSTATE_RECORDING"}}));
  EXPECT_EQ(StatesOf(media_, W(PathFor("orphan"))), std::vector<std::wstring>{L"complete"});
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);

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

  Engine().Housekeeping().ChangeRecordingToCompletePartial(tev::Clock::Now());
  EXPECT_EQ(Column(past, "Status"), "DVRSTATE_MISSED");
  EXPECT_EQ(StatesOf(media_, W(PathFor("a"))), std::vector<std::wstring>{L"partial"});
  EXPECT_EQ(StatesOf(media_, W(PathFor("b"))), std::vector<std::wstring>{L"partial"});
  EXPECT_EQ(thumbnails_.CountOf(L"Is Thumbnail In DB"), 2u);
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(PathFor("a"))});

  // Rows recording now belong to this run; the next run's engine settles them.
  const int c = Insert(Planned("c", "DVRSTATE_RECORDING", now - 60, 1800));
  Engine().Housekeeping().ChangeRecordingToCompletePartial(tev::Clock::Now());
  EXPECT_EQ(Column(c, "Status"), "DVRSTATE_RECORDING");
  Restart();
  Engine().Housekeeping().ChangeRecordingToCompletePartial(tev::Clock::Now());
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
  Insert(Planned("future", "DVRSTATE_RECORDING", now + 600, 1800));
  Insert(Planned("done", "DVRSTATE_COMPLETE", now - 600, 1800));

  env_.Shift(100);
  Engine().Housekeeping().StopAllRecordings(tev::Clock::Now());
  EXPECT_EQ(Rows("Status"), (Table{{"DVRSTATE_COMPLETE_PARTIAL"},
                                   {"DVRSTATE_COMPLETE_PARTIAL"},
                                   {"DVRSTATE_RETRY"},
                                   {"DVRSTATE_RECORDING"},
                                   {"DVRSTATE_COMPLETE"}}));
  EXPECT_NEAR(std::stoi(Column(plain, "Duration")), 700, 2);
  EXPECT_NEAR(std::stoi(Column(streaming, "Duration")), 100, 2);
  EXPECT_EQ(Column(url, "Duration"), "1800");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
}

TEST_F(Resume, AStreamStillWritingIsAdoptedAfterAShutdown) {
  std::string path;
  long stream = 0;
  const int id = RecordNow(L"Film", &path, &stream);
  const std::wstring widePath = tev::FromStdUtf8(path);

  // A shutdown leaves the stream running; the next run finds it writing and takes it back.
  Engine().Housekeeping().StopAllRecordings(tev::Clock::Now());
  ASSERT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  // The stream still writes: its file grows every 100 ms.
  auto append = [&path] { std::ofstream(path, std::ios::app) << std::string(4096, 'x'); };
  append();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (; !stop; append()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  env_.Shift(60);
  Restart();
  streamer_.ClearRequests();
  Engine().Housekeeping().ResumeRecordings();
  stop = true;
  writer.join();
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(Column(id, "Duration"), "3600");
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
  EXPECT_EQ(Recorder().GetStreamId(widePath), stream);

  Engine().Completion().NotifyRecordComplete(3600, widePath, tev::Clock::Now());
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_EQ(Recorder().GetStreamId(widePath), 0);
}

TEST_F(Resume, TheInterruptedPieceIsDescribedAndAStreamTheStreamerForgotIsNoError) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  std::string path;
  long stream = 0;
  const int id = RecordNow(L"Match", &path, &stream);
  ASSERT_TRUE(enginetest::WriteAsfVideo(path));
  env_.Shift(1200);
  Restart();
  // The streamer restarted too: it knows no stream of the old run.
  streamer_.SetReply(L"StopStream", DVR::kStreamerUnknownStream);
  log_->Clear();
  Engine().Housekeeping().ResumeRecordings();
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"DVR::StopRecording"));
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"DVR::StopRecording: the streamer no longer knows stream"));
  // Forgotten for good: no later start asks about it again.
  EXPECT_EQ(StreamStore::All().count(tev::FromStdUtf8(path)), 0u);

  EXPECT_EQ(Described(path, "WM/MediaOriginalChannel"), "Match|ch1");
}

TEST_F(Resume, OnlyRecordingsAndMissedStartsAreResumed) {
  const int64_t now = tev::Clock::Now();
  std::map<std::string, int> left;
  for (const char* status : {"DVRSTATE_SKIP", "DVRSTATE_TUNER_BUSY", "DVRSTATE_ERROR",
                             "DVRSTATE_COMPLETE", "DVRSTATE_COMPLETE_PARTIAL", "DVRSTATE_CONFLICT",
                             "DVRSTATE_DISK_FULL"}) {
    left[status] = Insert(Planned(status, status, now - 600));
  }
  const int lateId = Insert(Planned("Late", "DVRSTATE_SCHEDULED", now - 1200));
  const auto before = Rows("*", "ID != " + std::to_string(lateId));

  Engine().Housekeeping().NotePreviousRun();
  Engine().Housekeeping().ResumeRecordings();
  EXPECT_EQ(Rows("*", "ID != " + std::to_string(lateId)), before);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);

  // The programme whose start was missed records the rest in its own row.
  EXPECT_EQ(Column(lateId, "Status"), "DVRSTATE_SCHEDULED");
  EXPECT_NEAR(std::stoi(Column(lateId, "Duration")), 2400, 2);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Column(lateId, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(Rows("ID").size(), left.size() + 1);
}

TEST_F(Resume, HousekeepingAfterARestartLeavesThisRunsRows) {
  const int64_t now = tev::Clock::Now();
  Insert(Planned("Stale", "DVRSTATE_RECORDING", now - 9000, 1800));
  Engine().Housekeeping().NotePreviousRun();

  // Served before start-up has finished: an open-ended recording ends at its start.
  ASSERT_EQ(Add(L"Open", 0, 0, 1), 0);
  ASSERT_EQ(Rows("Name, Status", "Name = 'Open'"), (Table{{"Open", "DVRSTATE_RECORDING"}}));
  env_.Shift(10);
  streamer_.ClearRequests();
  Engine().Housekeeping().ResumeRecordings();

  EXPECT_EQ(Rows("Name, Status"), (Table{{"Open", "DVRSTATE_RECORDING"}}));
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
}

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
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", names.size(), 5000));
  EXPECT_EQ(enginetest::FirstArguments(listener_, L"NotifyStopRecording"), names);
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStopRecording").get(), 2), L"BBC One");

  // A report for an unknown file or a closed row (a stream that ran on past
  // a cancel or a restart) changes and tells nothing.
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

  EXPECT_EQ(Described(path, "WM/Genre"), "Described|Drama");

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

  // A cancelled row stays as it is, but the piece its stream wrote is described.
  const std::string cancelledPath = PathFor("Cancelled");
  ASSERT_TRUE(enginetest::WriteAsfVideo(cancelledPath));
  const int cancelledId =
      Insert(Planned("Cancelled", "DVRSTATE_RECORDING", tev::Clock::Now() - 154));
  ASSERT_EQ(Engine().Completion().CancelScheduledRecording(cancelledId, tev::Clock::Now()), 0);
  const auto closed = Rows("*", "ID = " + std::to_string(cancelledId));
  ASSERT_EQ(Column(cancelledId, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  Engine().Completion().NotifyRecordComplete(154, W(cancelledPath), tev::Clock::Now());
  EXPECT_EQ(Rows("*", "ID = " + std::to_string(cancelledId)), closed);
  EXPECT_EQ(Described(cancelledPath, "WM/Genre"), "Cancelled|Drama");
}

TEST_F(Completion, AFailedRecordingSaysWhy) {
  auto published = [this](const std::string& path) {
    return enginetest::LastReasonOf(media_, W(path));
  };
  const std::wstring unwritable = L"the folder " + W(videoDir_) + L" is not writable by user ";

  // One ERROR at the check; a due recording fails without asking the streamer.
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

  const RowSpec empty = Planned("Empty", "DVRSTATE_RECORDING", tev::Clock::Now() - 5);
  const int emptyId = Insert(empty);
  Engine().Completion().NotifyRecordComplete(0, W(empty.path), tev::Clock::Now());
  EXPECT_EQ(Column(emptyId, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(published(empty.path), L"the streamer wrote no file " + W(empty.path));
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

  // The web recorder gives up; a row no longer recording keeps its status.
  listener_.ClearRequests();
  Engine().Completion().NotifyRecordFailedAsync(W(video.path), tev::Clock::Now());
  EXPECT_EQ(Column(videoId, "Status"), "DVRSTATE_ERROR");
  ASSERT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
  const tev::peers::Value list = Last(listener_, L"NotifyPVRRecordingChange");
  ASSERT_EQ(VUtil::GetArrayLength(list.get()), 1);
  EXPECT_EQ(peertest::Str(peertest::Elem(list.get(), 0).get(), 0), L"Audio");
  EXPECT_EQ(StatesOf(media_, W(video.path)), (std::vector<std::wstring>{L"recording", L"error"}));

  dbtest::RawDb(dbPath_).Exec("UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE' WHERE ID = " +
                              std::to_string(audioId));
  Engine().Completion().NotifyRecordFailedAsync(W(audio.path), tev::Clock::Now());
  EXPECT_EQ(Column(audioId, "Status"), "DVRSTATE_COMPLETE");
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

TEST_F(Completion, ThumbnailNeededForAFileWithAQuoteInItsName) {
  // The quote is doubled in the raw insert.
  Insert(Planned("it''s quoted", "DVRSTATE_COMPLETE", tev::Clock::Now() - 7200));
  Engine().Completion().NotifyThumbnailNeeded(W(PathFor("it's quoted")));
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"Extract Image From Video"),
            std::vector<std::wstring>{W(PathFor("it's quoted"))});
}

}  // namespace
