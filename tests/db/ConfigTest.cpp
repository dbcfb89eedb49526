#include "db/Config.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "db/RecordingSettings.h"
#include "db/Schedule.h"
#include "engine/Schedules.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

class ConfigTest : public dbtest::OpenDbFixture {
 protected:
  int Rows(const std::string& key) {
    return std::stoi(RawDb(dbPath_).Value("SELECT count(*) FROM Config WHERE Key = '" + key + "'"));
  }
};

TEST_F(ConfigTest, StoreOperationsAndTheirCodes) {
  EXPECT_EQ(RawDb(dbPath_).Rows("SELECT Key, Value FROM Config ORDER BY rowid"),
            (std::vector<std::vector<std::string>>{
                {"FreeSpaceRequired", "200"}, {"Version", "7"}, {"StartPadding", "30"}, {"EndPadding", "0"}}));
  std::wstring value = L"untouched";
  EXPECT_EQ(Config::Get(L"FreeSpaceRequired", &value), 0);
  EXPECT_EQ(value, L"200");

  value = L"untouched";
  EXPECT_EQ(Config::Get(L"Missing", &value), 103);
  EXPECT_EQ(value, L"untouched");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Config::Get: Could not find Key: Missing"));

  // Set updates only existing keys; SetString inserts.
  EXPECT_EQ(Config::Set(L"Missing", L"x"), 0);
  EXPECT_EQ(Rows("Missing"), 0);
  Config::SetString(L"Missing", L"x");
  EXPECT_EQ(Rows("Missing"), 1);
  EXPECT_EQ(Config::GetString(L"Missing"), L"x");
  Config::SetString(L"Missing", L"y");
  EXPECT_EQ(Rows("Missing"), 1);
  EXPECT_EQ(Config::Set(L"Missing", L"z"), 0);
  EXPECT_EQ(Config::GetString(L"Missing"), L"z");
  EXPECT_EQ(Config::GetString(L"Nothing"), L"");
  // Threads setting a new key at once make one row.
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([i] { Config::SetString(L"Race", std::to_wstring(i)); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(Rows("Race"), 1);

  ASSERT_TRUE(RawDb(dbPath_).Exec("ALTER TABLE Config RENAME TO Gone"));
  EXPECT_EQ(Config::Get(L"Version", &value), 102);
  EXPECT_EQ(Config::Set(L"Version", L"1"), 102);
  EXPECT_EQ(Config::GetString(L"Version"), L"");
  Config::SetString(L"Version", L"1");  // lost, logged by the layer
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SQL error in Config::SetString: "));
}

TEST_F(ConfigTest, FreeSpaceFloorAndPadding) {
  EXPECT_EQ(RecordingSettings::InitializeFreeSpaceRequired(), 200000);
  ASSERT_TRUE(RawDb(dbPath_).Exec("DELETE FROM Config WHERE Key = 'FreeSpaceRequired'"));
  EXPECT_EQ(RecordingSettings::InitializeFreeSpaceRequired(), 200000);
  EXPECT_EQ(Config::GetString(L"FreeSpaceRequired"), L"200");
  // Huge numbers never wrap to a small floor and leave room for the sums.
  for (const wchar_t* text : {L"99999999999999999999", L"9223372036854775807", L"-9223372036854775808"}) {
    Config::SetString(L"FreeSpaceRequired", text);
    const int64_t floor = RecordingSettings::InitializeFreeSpaceRequired();
    EXPECT_EQ(floor, (text[0] == L'-' ? -1 : 1) * 1000000000000000LL) << tev::ToStdUtf8(text);
  }

  // Nothing is stored by reading.
  EXPECT_EQ(GetPaddingTime(), 60);
  EXPECT_EQ(Rows("RecordPadding"), 0);
  RecordingSettings::InitializeRecordPadding();
  EXPECT_EQ(Config::GetString(L"RecordPadding"), L"30");
  EXPECT_EQ(GetPaddingTime(), 30);
  // The cache wins over the table once filled.
  Config::SetString(L"RecordPadding", L"45");
  EXPECT_EQ(GetPaddingTime(), 30);
  RecordingSettings::SetRecordPadding(120);
  RecordingSettings::InitializeRecordPadding();  // not empty: unchanged
  EXPECT_EQ(Config::GetString(L"RecordPadding"), L"120");
  // The cache goes with the database.
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 0);
}

TEST_F(ConfigTest, FolderKeysAreFilledWithDefaultsOrTheMediaCenterPath) {
  dbtest::ScopedEnv documents("TEV_DOCUMENTS_DIR", dir_.path() + "/docs");
  dbtest::ScopedEnv registry("TEV_REGISTRY_FILE", dir_.path() + "/registry.ini");
  const std::wstring video = RecordingSettings::DefaultVideoFolder();
  EXPECT_EQ(video, tev::FromStdUtf8(dir_.path() + "/docs/Recorded TV"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/docs/Recorded TV"));
  EXPECT_EQ(RecordingSettings::DefaultAudioFolder(), tev::FromStdUtf8(dir_.path() + "/docs/Recorded Audio"));

  EXPECT_EQ(RecordingSettings::MediaCenterRecordPath(), L"");
  EXPECT_EQ(RecordingSettings::FillFolderKey(kConfigVideoDirectory, video), video);
  EXPECT_TRUE(log_->Has(LOG_DEBUG, L"No Video Directory in DB, initialize it to: " + video));
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), video);
  EXPECT_EQ(RecordingSettings::FillFolderKey(kConfigVideoDirectory, L"/elsewhere"), video);

  dbtest::WriteBytes(dir_.path() + "/registry.ini",
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media "
                     "Center\\Service\\Recording]\nRecordPath=/mce/Recorded TV\n");
  EXPECT_EQ(RecordingSettings::MediaCenterRecordPath(), L"/mce/Recorded TV");
  Config::SetString(kConfigVideoDirectory, L"");
  EXPECT_EQ(RecordingSettings::FillFolderKey(kConfigVideoDirectory, video), L"/mce/Recorded TV");
  EXPECT_TRUE(log_->Has(LOG_DEBUG,
                        L"No Video Directory in DB, initialize it to media center path: /mce/Recorded TV"));
  // The audio key never takes the Media Center folder.
  EXPECT_EQ(RecordingSettings::FillFolderKey(kConfigAudioDirectory, L"/audio"), L"/audio");
  EXPECT_EQ(Config::GetString(kConfigAudioDirectory), L"/audio");
}

TEST_F(ConfigTest, FolderSettersCheckThenMovePendingSchedules) {
  const std::string base = dir_.path() + "/rec";
  std::filesystem::create_directories(base + "/video");
  std::filesystem::create_directories(base + "/audio");
  std::filesystem::create_directories(base + "/new video");
  const std::wstring wbase = tev::FromStdUtf8(base);
  Config::SetString(kConfigVideoDirectory, wbase + L"/video");
  Config::SetString(kConfigAudioDirectory, wbase + L"/Audio");

  struct Row {
    const wchar_t* status;
    const wchar_t* mimetype;
    const wchar_t* file;
    bool moves;
  };
  const Row rows[] = {
      {DVRSTATE_SCHEDULED, L"video/x-tv", L"a.wmv", true},
      {DVRSTATE_SKIP, L"video/x-webwin", L"b's.wmv", true},
      {DVRSTATE_CONFLICT, L"video/x-tv", L"c.wmv", true},
      {DVRSTATE_RECORDING, L"video/x-tv", L"d.wmv", false},
      {DVRSTATE_COMPLETE, L"video/x-tv", L"e.wmv", false},
      {DVRSTATE_SCHEDULED, L"audio/x-win", L"f.wma", false},
  };
  for (const Row& r : rows) {
    Schedule s;
    s.m_status = r.status;
    s.m_channelMimetype = r.mimetype;
    s.m_filePath = wbase + L"/video/" + r.file;
    s.m_startTime = s.m_endTime = 1300000000;
    ASSERT_TRUE(s.Insert());
  }

  std::wstring engineVideo = L"old";
  int repointed = 0;
  auto repoint = [&](const std::wstring& folder) {
    ++repointed;
    EXPECT_EQ(folder, wbase + L"/new video");
  };
  std::filesystem::create_directories(base + "/readonly");
  env_.SetNotWritable(true);
  EXPECT_EQ(RecordingSettings::SetVideoRecordingDirectory(wbase + L"/readonly", &engineVideo, repoint), 123);
  env_.SetNotWritable(false);
  EXPECT_EQ(engineVideo, L"old");
  EXPECT_EQ(repointed, 0);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), wbase + L"/video");

  EXPECT_EQ(RecordingSettings::SetVideoRecordingDirectory(L"\t" + wbase + L"/new video \n", &engineVideo, repoint), 0);
  EXPECT_EQ(engineVideo, wbase + L"/new video");
  EXPECT_EQ(repointed, 1);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), wbase + L"/new video");
  EXPECT_FALSE(std::filesystem::exists(base + "/new video/__tev__test__"));
  for (const Row& r : rows) {
    const std::wstring expected = (r.moves ? wbase + L"/new video/" : wbase + L"/video/") + r.file;
    EXPECT_GT(Schedule::GetIdFromPath(expected), 0) << tev::ToStdUtf8(expected);
  }

  // The audio setter compares with the video folder.
  EXPECT_EQ(RecordingSettings::SetAudioRecordingDirectory(wbase + L"/NEW VIDEO", nullptr, nullptr), 121);
  EXPECT_EQ(RecordingSettings::SetAudioRecordingDirectory(wbase + L"/audio", nullptr, nullptr), 0);
  EXPECT_GT(Schedule::GetIdFromPath(wbase + L"/audio/f.wma"), 0);
  EXPECT_EQ(RecordingSettings::CheckDirectoryWritable(L""), 122);
}
