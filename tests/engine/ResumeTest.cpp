// A restart of the module in the middle of programmes: which rows the new
// run resumes, adopts or leaves, and what becomes of the streams the old run
// started. A "crash" is a fresh engine with an empty stream table over the
// same database; a file that grows stands for a stream still writing.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <taglib/asffile.h>

#include "dvr/DVR.h"
#include "dvr/StreamStore.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

// Appends to a file every 100 ms while it lives: a stream still recording.
class GrowingFile {
 public:
  // The file exists once the constructor returns.
  explicit GrowingFile(const std::string& path) : path_(path) {
    Append();
    thread_ = std::thread([this] { Run(); });
  }
  ~GrowingFile() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Append() { std::ofstream(path_, std::ios::app) << std::string(4096, 'x'); }
  void Run() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Append();
    }
  }
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class Resume : public enginetest::EngineFixture {
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

// The adoption after a crash is HostRestart.AKillMidRecordingLeavesOneStreamForTheProgramme.
TEST_F(Resume, AStreamStillWritingIsAdoptedAfterAShutdown) {
  std::string path;
  long stream = 0;
  const int id = RecordNow(L"Film", &path, &stream);
  const std::wstring widePath = tev::FromStdUtf8(path);

  // A shutdown closes the row and leaves the stream running; the next run
  // finds it still writing and takes the row back, the stream known by its id.
  Engine().Housekeeping().StopAllRecordings(tev::Clock::Now());
  ASSERT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  {
    GrowingFile writing(path);
    env_.Shift(60);
    Restart();
    streamer_.ClearRequests();
    Engine().Housekeeping().ResumeRecordings();
  }
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(Column(id, "Duration"), "3600");
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
  EXPECT_EQ(Recorder().GetStreamId(widePath), stream);

  // Its end report closes it as any recording.
  Engine().Completion().NotifyRecordComplete(3600, widePath, tev::Clock::Now());
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_EQ(Recorder().GetStreamId(widePath), 0);
}

TEST_F(Resume, TheInterruptedPieceIsDescribedAndAStreamTheStreamerForgotIsNoError) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  std::string path;
  long stream = 0;
  const int id = RecordNow(L"Match", &path, &stream);
  // What the stream wrote before the machine went down.
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

  TagLib::ASF::File file(path.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ(file.tag()->title().to8Bit(true), "Match");
  const auto& channel = file.tag()->attribute("WM/MediaOriginalChannel");
  ASSERT_FALSE(channel.isEmpty());
  EXPECT_EQ(channel.front().toString().to8Bit(true), "ch1");
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
  const int staleId = Insert(Planned("Stale", "DVRSTATE_RECORDING", now - 9000, 1800));
  Engine().Housekeeping().NotePreviousRun();

  // Requests are served before start-up has finished: an open-ended
  // recording started now has its end at its start.
  ASSERT_EQ(Add(L"Open", 0, 0, 1), 0);
  const int open = std::stoi(Rows("ID", "Name = 'Open'")[0][0]);
  ASSERT_EQ(Column(open, "Status"), "DVRSTATE_RECORDING");
  env_.Shift(10);
  streamer_.ClearRequests();
  Engine().Housekeeping().ResumeRecordings();

  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(staleId)).empty());
  EXPECT_EQ(Column(open, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 0u);
}

}  // namespace
