// One pass of a monitor, run on the test's thread over real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/Schedule.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

using monitortest::Value;
namespace fs = std::filesystem;

class MonitorPass : public monitortest::MonitorFixture {};

TEST_F(MonitorPass, AnAsfFileIsDescribedByItsOwnMetadata) {
  if (!monitortest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  Schedule written;
  written.m_name = L"Ignored title";
  written.m_subtitle = L"Part 2";
  written.m_category = L"Drama";
  written.m_description = L"A story";
  written.m_channelName = L"BBC Two";
  written.m_channel = L"ch2";
  const std::string path = DescribedAsf("Described_Chan_03-04-2008 20-00-01 Tev.asf", written);
  ASSERT_FALSE(path.empty());

  Monitor().LoadOldFilenames(W(videoDir_));
  auto rows = Rows("ID, Name, Subtitle, Category, Description, ChannelName, Channel, StartTime, "
                   "EndTime, Duration, Status, Type, KeepUntil, Tuner, ChannelMimetype");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  // The name's title ("Title" is not read); the file's station over the name's.
  EXPECT_EQ(std::vector<std::string>(row.begin() + 1, row.end()),
            (std::vector<std::string>{"Described", "Part 2", "Drama", "A story", "BBC Two", "ch2",
                                      "20080304200001", "20080304200002", "1", "DVRSTATE_COMPLETE",
                                      "Recovered", "1", "any", "video/x-webwin"}));

  // The library asks for the picture when it needs one.
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 0u);
  EXPECT_TRUE(Recorder().Thumbnails().Get(std::stoi(row[0])));
  const Value published = Last(media_, L"AddMedia");
  EXPECT_EQ(enginetest::BatchValues(published, L"thumbnailId"),
            std::vector<std::wstring>{L"RT" + W(row[0])});
  EXPECT_EQ(enginetest::BatchValues(published, L"size"),
            std::vector<std::wstring>{std::to_wstring(fs::file_size(path))});
}

TEST_F(MonitorPass, AFileKnownInAnyStateButDeletedOrMissedIsNotAddedAgain) {
  const char* statuses[] = {"DVRSTATE_SCHEDULED", "DVRSTATE_RECORDING", "DVRSTATE_COMPLETE",
                            "DVRSTATE_ERROR",     "DVRSTATE_DELETED",   "DVRSTATE_MISSED"};
  std::vector<std::string> paths;
  for (const char* status : statuses) {
    const std::string name = std::string(status).substr(9) + "_Chan_03-04-2008 20-00-01 Tev.asf";
    paths.push_back(Drop(videoDir_, name));
    // Still to come, so that no housekeeping moves the row.
    InsertTimedRow(status, paths.back(), tev::Clock::Now() + 7200);
  }
  FileSystemMonitor& monitor = Monitor();
  monitor.RunPass();
  monitor.RunPass();
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string status = statuses[i];
    const bool gone = status == "DVRSTATE_DELETED" || status == "DVRSTATE_MISSED";
    EXPECT_EQ(RowsFor(paths[i]), gone ? 2u : 1u) << status;
    // A row left recording is settled (and so republished) as an orphan.
    const bool settled = status == "DVRSTATE_RECORDING";
    EXPECT_EQ(Publications(paths[i]), gone || settled ? 1u : 0u) << status;
  }
}

TEST_F(MonitorPass, AudioFilesAndForeignNamesAreAdoptedByTheirType) {
  const std::string wma = Drop(audioDir_, "Concert_Radio 3_03-04-2008 20-00-01 Tev.wma");
  const std::string rm = Drop(audioDir_, "Talk_Radio 4_03-04-2008 20-00-01 Tev.rm");
  const std::string text = Drop(audioDir_, "notes.txt");
  const std::string own = Drop(audioDir_, "Mix_15_03_2009_20_30_00.wma");
  fs::create_directories(audioDir_ + "/Sub_Chan_03-04-2008 20-00-01 Tev.wma");
  Drop(audioDir_, ".Hidden_Chan_03-04-2008 20-00-01 Tev.wma");
  Monitor(L"audio").RunPass();
  EXPECT_EQ(ColumnFor(wma, "ChannelMimetype || '/' || ChannelName"), "audio/x-win/Radio 3");
  EXPECT_EQ(ColumnFor(rm, "ChannelMimetype"), "audio/x-real");
  // In the audio folder any extension passes the Media Center parser.
  EXPECT_EQ(ColumnFor(own, "Name || '/' || StartTime"), "Mix/20090315203000");
  EXPECT_EQ(RowsFor(text), 0u);
  EXPECT_EQ(Rows("ID").size(), 3u);
  for (const std::string& path : {wma, rm, own}) {
    EXPECT_FALSE(Recorder().Thumbnails().Get(std::stoi(ColumnFor(path, "ID")))) << path;
  }
}

TEST_F(MonitorPass, MediaCenterRecordingsAreAdoptedByTheirNames) {
  const std::string folder = dir_.path() + "/Media Center";
  fs::create_directories(folder);
  const std::string named = Drop(folder, "Evening News_BBC One_15_03_2009_20_30_00.dvr-ms");
  const std::string plain = Drop(folder, "holiday.wmv");
  const std::string refused = Drop(folder, "notes.txt");

  FileSystemMonitor& monitor = Monitor(L"MediaCenter");
  monitor.LoadOldFilenames(W(folder));
  EXPECT_EQ(ColumnFor(named,
                      "Name || '/' || ChannelName || '/' || StartTime || '/' || "
                      "ChannelMimetype || '/' || Quality"),
            "Evening News/BBC One/20090315203000/video/x-tv/3");
  // Not dvr-ms: refused by the name parser, still a recording type.
  EXPECT_EQ(ColumnFor(plain, "Name || '/' || ChannelMimetype"), "holiday/video/x-videomail");
  EXPECT_EQ(RowsFor(refused), 0u);
}

TEST_F(MonitorPass, StaleThumbnailFilesGoAtTheFirstPassOfARunOnly) {
  const std::vector<std::string> stale = {"a.ms-dvr.jpg", "b.my-tevthumb", "Show Tev.asf.jpg",
                                          "Radio Tev.rm.jpg"};
  const std::vector<std::string> kept = {"c.MS-DVR.JPG", "photo.jpg", "Show Tev.asf"};
  for (const std::string& name : stale) Drop(videoDir_, name);
  for (const std::string& name : kept) Drop(videoDir_, name);
  Drop(audioDir_, "a.ms-dvr.jpg");
  fs::create_directories(videoDir_ + "/folder.ms-dvr.jpg");

  FileSystemMonitor& monitor = Monitor();
  monitor.RunPass();
  for (const std::string& name : stale) EXPECT_FALSE(fs::exists(videoDir_ + "/" + name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(videoDir_ + "/" + name)) << name;
  EXPECT_TRUE(fs::is_directory(videoDir_ + "/folder.ms-dvr.jpg"));

  Drop(videoDir_, "a.ms-dvr.jpg");
  monitor.RunPass();
  EXPECT_TRUE(fs::exists(videoDir_ + "/a.ms-dvr.jpg"));
  // The audio monitor never deletes thumbnails.
  Monitor(L"audio").RunPass();
  EXPECT_TRUE(fs::exists(audioDir_ + "/a.ms-dvr.jpg"));
}

TEST_F(MonitorPass, TheFirstPassLearnsWhichFinishedVideosHaveThumbnails) {
  const std::string with = Drop(videoDir_, "With_Chan_03-04-2008 20-00-01 Tev.asf");
  const std::string without = Drop(videoDir_, "Without_Chan_03-04-2008 20-00-01 Tev.asf");
  const int withId = InsertSchedule("M1", "DVRSTATE_COMPLETE", "video/x-tv", "With", "Chan", with);
  const int withoutId =
      InsertSchedule("M2", "DVRSTATE_COMPLETE_PARTIAL", "video/x-tv", "Without", "Chan", without);
  const int audioId = InsertSchedule("M3", "DVRSTATE_COMPLETE", "audio/x-win", "Radio", "Chan",
                                     Drop(audioDir_, "Radio_Chan_03-04-2008 20-00-01 Tev.wma"));
  Recorder().CreateThumbnail(W(with));
  thumbnails_.ClearRequests();

  FileSystemMonitor& monitor = Monitor();
  monitor.RunPass();
  const auto asked = thumbnails_.RequestsOf(L"Are Thumbnails In DB");
  ASSERT_EQ(asked.size(), 1u);
  const Value paths = peertest::Elem(asked[0].get(), 0);
  EXPECT_EQ(VUtil::GetArrayLength(paths.get()), 2);  // videos only
  EXPECT_TRUE(Recorder().Thumbnails().Get(withId));
  EXPECT_TRUE(Recorder().Thumbnails().Has(withoutId));
  EXPECT_FALSE(Recorder().Thumbnails().Get(withoutId));
  EXPECT_FALSE(Recorder().Thumbnails().Has(audioId));

  monitor.RunPass();
  EXPECT_EQ(thumbnails_.CountOf(L"Are Thumbnails In DB"), 1u);
}

TEST_F(MonitorPass, RowsLeftByACrashAreSettledButNotThoseRecordingNow) {
  const int64_t now = tev::Clock::Now();
  const std::string orphan = videoDir_ + "/Orphan.asf";
  const std::string live = videoDir_ + "/Live.asf";
  InsertTimedRow("DVRSTATE_RECORDING", orphan, now + 600, "Orphan");
  InsertTimedRow("DVRSTATE_RECORDING", live, now + 600, "Live");
  InsertTimedRow("DVRSTATE_DELETED", "", now - 120, "Old deleted");
  InsertTimedRow("DVRSTATE_CONFLICT", "", now - 120, "Old conflict");
  InsertTimedRow("DVRSTATE_CONFLICT", "", now + 120, "New conflict");
  Recorder().AdoptStream(W(live), 7);

  Monitor().RunPass();
  Recorder().AdoptStream(W(live), 0);  // ended
  auto rows = Rows("Name, Status, Duration");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Orphan", "DVRSTATE_COMPLETE_PARTIAL", "-1"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"Live", "DVRSTATE_RECORDING", "3600"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"Old conflict", "DVRSTATE_MISSED", "3600"}));
  EXPECT_EQ(rows[3], (std::vector<std::string>{"New conflict", "DVRSTATE_CONFLICT", "3600"}));
  EXPECT_TRUE(log_->HasPart(LOG_WARN, L"ChangeRecordingToCompletePartial found orphan: "));
}

}  // namespace
