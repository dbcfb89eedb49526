// The monitor's thread on real folders; waits pass by shifting the clock.
#include <gtest/gtest.h>

#include <string>

#include "db/Schedule.h"
#include "tests/db/BusWire.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

using monitortest::WaitUntil;

class FolderMonitorThread : public monitortest::MonitorFixture {};

TEST_F(FolderMonitorThread, ACopiedInRecordingIsAdoptedOnceTenSecondsAfterTheLastChange) {
  FileSystemMonitor& monitor = Started();
  EXPECT_TRUE(Rows("ID").empty());

  const std::string first = Drop(videoDir_, "News_BBC One_03-04-2008 20-00-01 Tev.asf");
  ASSERT_TRUE(ChangesSeen(monitor, 1));
  env_.Shift(6);
  const std::string second = Drop(videoDir_, "Film_03-05-2008 21-30-00 Tev.asf");
  ASSERT_TRUE(ChangesSeen(monitor, 2));
  // The second copy started the 10 seconds again.
  EXPECT_GT(monitor.MsUntilUpdate(), 9000);
  env_.Shift(5);
  EXPECT_GT(monitor.MsUntilUpdate(), 0);
  EXPECT_EQ(monitor.PassCount(), 1);

  ASSERT_TRUE(PassAfterSettling(monitor));
  auto rows = Rows("Name, ChannelName, StartTime, EndTime, Duration, Status, Type, KeepUntil, "
                   "ChannelMimetype, Quality, FilePath");
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    const bool isFirst = row[10] == first;
    const std::string start = isFirst ? "20080304200001" : "20080305213000";
    // No duration in a file that is not ASF: it ends where it starts.
    EXPECT_EQ(std::vector<std::string>(row.begin(), row.begin() + 10),
              (std::vector<std::string>{isFirst ? "News" : "Film", isFirst ? "BBC One" : "", start,
                                        start, "-1", "DVRSTATE_COMPLETE", "Recovered", "1",
                                        "video/x-webwin", "high"}));
  }
  EXPECT_EQ(Publications(first), 1u);
  EXPECT_EQ(Publications(second), 1u);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"PopulateFromFile failed on " + W(first)));

  const int passes = monitor.PassCount();
  env_.Shift(86400);
  ASSERT_TRUE(WaitUntil([&] { return monitor.PassCount() > passes; }));
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_EQ(Publications(first), 1u);
}

TEST_F(FolderMonitorThread, ADeletedFinishedRecordingLeavesTheTableAndTheLibrary) {
  const std::string kept = Drop(videoDir_, "Kept_Chan_03-04-2008 20-00-01 Tev.asf");
  const std::string deleted = Drop(videoDir_, "Gone_Chan_03-04-2008 21-00-01 Tev.asf");
  const int keptId = InsertSchedule("M1", "DVRSTATE_COMPLETE", "video/x-tv", "Kept", "Chan", kept);
  const int goneId =
      InsertSchedule("M2", "DVRSTATE_COMPLETE_PARTIAL", "video/x-tv", "Gone", "Chan", deleted);
  FileSystemMonitor& monitor = Started();
  Recorder().Thumbnails().Set(goneId, true);  // after the first pass asked
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_EQ(thumbnails_.CountOf(L"RemoveThumbDB"), 0u);

  const int changes = monitor.ChangeCount();
  std::filesystem::remove(deleted);
  ASSERT_TRUE(ChangesSeen(monitor, changes + 1));
  ASSERT_TRUE(PassAfterSettling(monitor));
  EXPECT_EQ(Rows("ID"), (std::vector<std::vector<std::string>>{{std::to_string(keptId)}}));
  EXPECT_EQ(dbtest::Wire(Last(media_, L"SetMediaAttributeList").get()),
            R"(["",[["M2",[["mediaType","deleted.video.file.recorded.tv"]]]],true])");
  EXPECT_EQ(enginetest::FirstArguments(thumbnails_, L"RemoveThumbDB"),
            std::vector<std::wstring>{W(deleted)});
}

TEST_F(FolderMonitorThread, ARecordingInProgressIsNeverAdopted) {
  FileSystemMonitor& monitor = Started();
  const std::string starting = videoDir_ + "/Live_Chan_03-04-2008 20-00-01 Tev.asf";
  const std::string streaming = videoDir_ + "/Stream_Chan_03-04-2008 20-00-01 Tev.asf";
  engine_->Intake().AddPendingFile(W(starting));
  Recorder().AdoptStream(W(streaming), 42);
  Drop(videoDir_, "Live_Chan_03-04-2008 20-00-01 Tev.asf");
  Drop(videoDir_, "Stream_Chan_03-04-2008 20-00-01 Tev.asf");
  ASSERT_TRUE(ChangesSeen(monitor, 1));
  ASSERT_TRUE(PassAfterSettling(monitor));
  EXPECT_TRUE(Rows("ID").empty());

  // Then the engine has the rows.
  engine_->Intake().RemovePendingFile(W(starting));
  InsertSchedule("", "DVRSTATE_RECORDING", "video/x-tv", "Live", "Chan", starting);
  Recorder().AdoptStream(W(streaming), 0);  // ended
  InsertSchedule("", "DVRSTATE_COMPLETE", "video/x-tv", "Stream", "Chan", streaming);
  monitor.ChangeFolder(L"video");
  const int passes = monitor.PassCount();
  ASSERT_TRUE(WaitUntil([&] { return monitor.PassCount() > passes; }));
  EXPECT_EQ(Rows("ID").size(), 2u);
}

TEST_F(FolderMonitorThread, ChangingTheVideoFolderRepointsItsMonitor) {
  engine_->Monitors().Start();
  FileSystemMonitor& video = *engine_->Monitors().Monitor(L"video");
  FileSystemMonitor& audio = *engine_->Monitors().Monitor(L"audio");
  ASSERT_TRUE(WaitUntil([&] { return video.PassCount() >= 1; }));
  ASSERT_TRUE(WaitUntil([&] { return audio.PassCount() >= 1; }));
  EXPECT_EQ(video.Folder(), W(videoDir_));
  EXPECT_EQ(audio.Folder(), W(audioDir_));

  const std::string moved = dir_.path() + "/Moved TV";
  std::filesystem::create_directories(moved);
  const std::string there = Drop(moved, "There_Chan_03-04-2008 20-00-01 Tev.asf");
  const int passes = video.PassCount();
  ASSERT_EQ(engine_->Folders().SetVideoRecordingDirectory(W(moved)), 0);
  EXPECT_EQ(video.Folder(), W(moved));
  ASSERT_TRUE(WaitUntil([&] { return video.PassCount() > passes; }));
  EXPECT_EQ(RowsFor(there), 1u);

  const int changes = video.ChangeCount();
  Drop(videoDir_, "Old_Chan_03-04-2008 20-00-01 Tev.asf");
  const std::string later = Drop(moved, "Later_Chan_03-04-2008 20-00-01 Tev.asf");
  ASSERT_TRUE(ChangesSeen(video, changes + 1));
  ASSERT_TRUE(PassAfterSettling(video));
  EXPECT_EQ(RowsFor(later), 1u);
  EXPECT_EQ(Rows("ID").size(), 2u);

  engine_->Shutdown();
  EXPECT_TRUE(video.ThreadEnded());
  EXPECT_TRUE(audio.ThreadEnded());
}

}  // namespace
