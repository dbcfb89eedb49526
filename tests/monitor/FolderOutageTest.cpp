// The other file system comes through the environment: a test cannot mount.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "db/Config.h"
#include "db/Schedule.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

namespace fs = std::filesystem;

class FolderOutage : public monitortest::MonitorFixture {
 protected:
  size_t MediaDropped() {
    return media_.CountOf(L"SetMediaAttributeList") + media_.CountOf(L"RemoveImportedMedia");
  }
  int Warnings(const std::wstring& part) {
    int n = 0;
    for (const auto& line : log_->Lines()) {
      n += line.level == LOG_WARN && line.text.find(part) != std::wstring::npos &&
           line.text.find(L"kept until it is back") != std::wstring::npos;
    }
    return n;
  }
  std::string Recording(const std::string& name) {
    Schedule described;
    described.m_name = L"Described";
    described.m_keepUntil = UNTIL_MANUALLY_DELETED;
    return DescribedAsf(name, described);
  }
};

TEST_F(FolderOutage, AMissingOrSwappedFolderRemovesNothingAndWarnsOnce) {
  if (!monitortest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string kept = Recording("Kept_Chan_03-04-2008 20-00-01 Tev.asf");
  const std::string later = Recording("Later_Chan_03-04-2008 21-00-01 Tev.asf");
  ASSERT_FALSE(kept.empty());
  const int keptId = InsertSchedule("M1", "DVRSTATE_COMPLETE", "video/x-tv", "Kept", "Chan", kept);
  InsertSchedule("M2", "DVRSTATE_COMPLETE", "video/x-tv", "Later", "Chan", later);
  FileSystemMonitor& monitor = Monitor();
  monitor.RunPass();
  EXPECT_FALSE(Config::GetString(L"FolderDevice:" + W(videoDir_)).empty());

  // Unmounted: passes keep every row and say so once.
  const std::string away = videoDir_ + ".away";
  fs::rename(videoDir_, away);
  monitor.RunPass();
  monitor.RunPass();
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_EQ(MediaDropped(), 0u);
  EXPECT_EQ(Warnings(W(videoDir_) + L" does not exist"), 1);

  // A plain file, or an empty mount point on another file system, tells no more.
  std::ofstream(videoDir_) << "x";
  monitor.RunPass();
  fs::remove(videoDir_);
  fs::create_directories(videoDir_);
  env_.SetDeviceId([this](const std::wstring& path) -> int64_t {
    return path == W(videoDir_) ? 4242 : tev::Env::Real().DeviceId(path);
  });
  monitor.RunPass();
  monitor.RunPass();
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_EQ(MediaDropped(), 0u);
  EXPECT_EQ(Warnings(W(videoDir_)), 1);

  // A disk that holds the folder's recordings is the folder's disk.
  fs::remove(videoDir_);
  fs::rename(away, videoDir_);
  monitor.RunPass();
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_EQ(Config::GetString(L"FolderDevice:" + W(videoDir_)), L"4242");
  fs::remove(later);
  monitor.RunPass();
  EXPECT_EQ(Rows("ID"), (std::vector<std::vector<std::string>>{{std::to_string(keptId)}}));
  EXPECT_EQ(MediaDropped(), 1u);
  EXPECT_EQ(RowsFor(later), 0u);

  // Adopted again with its file's keep-until, not as the first to go.
  dbtest::RawDb(dbPath_).Exec("DELETE FROM Schedules WHERE ID = " + std::to_string(keptId));
  monitor.RunPass();
  EXPECT_EQ(ColumnFor(kept, "Type"), "Recovered");
  EXPECT_EQ(ColumnFor(kept, "KeepUntil"), std::to_string(UNTIL_MANUALLY_DELETED));
}

TEST_F(FolderOutage, EachEngineWarnsOnceForItsMonitors) {
  InsertSchedule("M1", "DVRSTATE_COMPLETE", "video/x-tv", "Kept", "Chan",
                 videoDir_ + "/Kept_Chan_03-04-2008 20-00-01 Tev.asf");
  const std::string away = videoDir_ + ".away";
  fs::rename(videoDir_, away);
  const std::wstring outage = W(videoDir_) + L" does not exist";

  auto pass = [](Schedules& engine, const std::wstring& kind) {
    engine.Monitors().Monitor(kind)->ChangeFolder(kind);
    engine.Monitors().Monitor(kind)->RunPass();
  };
  pass(*engine_, L"video");
  pass(*engine_, L"audio");
  EXPECT_EQ(Warnings(outage), 1);

  // Another engine in the process (the module started again).
  {
    DVR recorder(vel_->Peers());
    Schedules again(recorder);
    again.Folders().LoadFolders();
    pass(again, L"audio");
  }
  EXPECT_EQ(Warnings(outage), 2);
  EXPECT_EQ(Rows("ID").size(), 1u);
  fs::rename(away, videoDir_);
}

}  // namespace
