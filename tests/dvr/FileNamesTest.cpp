// Recording file names, unique against the Schedules table and the disk.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "support/VelException.h"
#include "tests/common/FakePeers.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

using tev::test::UtcTime;

const int64_t kMarch4 = UtcTime(2008, 3, 4, 20, 0, 1);

class DVRNames : public dbtest::OpenDbFixture {
 protected:
  void SetUp() override {
    OpenDbFixture::SetUp();
    if (HasFatalFailure()) return;
    video_ = tev::FromStdUtf8(dir_.path()) + L"/Rec";
    audio_ = tev::FromStdUtf8(dir_.path()) + L"/Audio";
    Config::SetString(kConfigVideoDirectory, video_);
    Config::SetString(kConfigAudioDirectory, audio_);
  }
  void InsertPath(const std::wstring& path) {
    SQLite query;
    ASSERT_TRUE(query.RunQuery("INSERT INTO Schedules (Status, FilePath) VALUES ('DVRSTATE_SCHEDULED', ?)",
                               {path}, L"test"));
  }
  std::wstring video_, audio_;
  testpeers::FakePeers peers_;
  DVR dvr_{peers_};
};

TEST_F(DVRNames, MakesNamesInTheFolderOfTheMimetype) {
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"Channel 4", L"News", kMarch4, 0),
            video_ + L"/News_Channel 4_03-04-2008 20-00-01 Tev.asf");
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"Channel 4", L"News", kMarch4, 1),
            video_ + L"/News_Channel 4_03-04-2008 20-00-01 Tev 1.asf");
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"audio/x-win", L"", L"Talk", kMarch4, 0),
            audio_ + L"/Talk 03-04-2008 20-00-01 Tev.wma");
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"Ch", L"a/b:c", kMarch4, 0),
            video_ + L"/abc_Ch_03-04-2008 20-00-01 Tev.asf");
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"C\\h|", L"*?\"<>|x", kMarch4, 0),
            video_ + L"/x_Ch_03-04-2008 20-00-01 Tev.asf");
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"//", L"Show", kMarch4, 0),
            video_ + L"/Show 03-04-2008 20-00-01 Tev.asf");
  // Without an engine the stored setting is the folder.
  Config::SetString(kConfigVideoDirectory, L"/elsewhere");
  EXPECT_EQ(dvr_.GetRecordingDirectory(L"video/x-inputdevice"), L"/elsewhere");
  // Before start-up has stored a folder.
  Config::SetString(kConfigVideoDirectory, L"");
  EXPECT_EQ(dvr_.GetRecordingDirectory(L"video/x-tv"), RecordingSettings::DefaultVideoFolder());
  EXPECT_EQ(dvr_.MakeRecordingFileName(L"video/x-tv", L"", L"Early", kMarch4, 0)
                .compare(0, RecordingSettings::DefaultVideoFolder().size() + 1,
                         RecordingSettings::DefaultVideoFolder() + L"/"),
            0);
  Config::SetString(kConfigVideoDirectory, L"/stored");
  EXPECT_EQ(dvr_.GetRecordingDirectory(L"video/x-tv"), L"/stored");
  // The owner's folders win over the setting once it has loaded them.
  DVR owned(peers_, [](bool video) { return video ? std::wstring(L"/owned") : std::wstring(); });
  EXPECT_EQ(owned.GetRecordingDirectory(L"video/x-tv"), L"/owned");
  EXPECT_EQ(owned.GetRecordingDirectory(L"audio/x-win"), audio_);
  EXPECT_THROW(dvr_.MakeRecordingFileName(L"audio/x-videomail", L"", L"x", kMarch4, 0),
               VelException);
}

TEST_F(DVRNames, HostileNamesStayOneFileInTheFolder) {
  const std::wstring hostile[] = {
      L"../../etc/passwd", L"..", L"a/../../b", std::wstring(500, L'x'), std::wstring(300, L'\x00e9'),
      std::wstring(L"tab\tnew\nline\x01\x7f") + L"\x0085" L"end", L"/", std::wstring(1, L'\0') + L"nul"};
  for (const std::wstring& name : hostile) {
    for (const std::wstring& channel : {std::wstring(L"Chan"), name}) {
      std::wstring path = dvr_.MakeRecordingFileName(L"video/x-tv", channel, name, kMarch4, 9);
      ASSERT_EQ(path.compare(0, video_.size() + 1, video_ + L"/"), 0) << tev::ToStdUtf8(path);
      std::wstring file = path.substr(video_.size() + 1);
      EXPECT_EQ(file.find(L'/'), std::wstring::npos) << tev::ToStdUtf8(path);
      EXPECT_NE(file, L"..");
      EXPECT_LT(tev::WideToUtf8(file).size(), 255u) << tev::ToStdUtf8(path);
      for (wchar_t c : file) EXPECT_GE(static_cast<unsigned long>(c), 0x20ul);
    }
  }
}

TEST_F(DVRNames, UniqueNamesSkipRowsOfOtherSchedules) {
  auto made = [&](int n) {
    return dvr_.MakeRecordingFileName(L"video/x-tv", L"Chan", L"Show", kMarch4, n);
  };
  auto unique = [&](int32_t id) {
    return dvr_.ConstructUniqueFileName(L"video/x-tv", L"Chan", L"Show", kMarch4, id);
  };
  EXPECT_EQ(unique(0), made(0));
  InsertPath(made(0));
  EXPECT_EQ(unique(1), made(0));  // the row holding the name
  EXPECT_EQ(unique(0), made(1));
  for (int i = 1; i < 9; ++i) InsertPath(made(i));
  // The tenth try is the last one allowed.
  EXPECT_EQ(unique(0), made(9));
  InsertPath(made(9));
  log_->Clear();
  EXPECT_EQ(unique(0), L"");
  EXPECT_TRUE(log_->Has(
      LOG_ERROR, L"DVR::ConstructUniqueFileName more than 10 schedules with the same filename: " +
                     video_ + L"/Show_Chan_03-04-2008 20-00-01 Tev 9.asf (Show-Chan-video/x-tv-0)"));
}

TEST_F(DVRNames, UniqueNamesSkipFilesAlreadyOnDisk) {
  // A file no row knows yet is never written over, even for its name's row.
  const std::wstring taken = dvr_.MakeRecordingFileName(L"video/x-tv", L"Chan", L"Film", kMarch4, 0);
  std::filesystem::create_directories(tev::ToStdUtf8(video_));
  std::ofstream(tev::ToStdUtf8(taken)) << "recorded";
  EXPECT_EQ(dvr_.ConstructUniqueFileName(L"video/x-tv", L"Chan", L"Film", kMarch4, 0),
            video_ + L"/Film_Chan_03-04-2008 20-00-01 Tev 1.asf");
  InsertPath(taken);
  EXPECT_EQ(dvr_.ConstructUniqueFileName(L"video/x-tv", L"Chan", L"Film", kMarch4,
                                         Schedule::GetIdFromPath(taken)),
            video_ + L"/Film_Chan_03-04-2008 20-00-01 Tev 1.asf");
  EXPECT_EQ(std::filesystem::file_size(tev::ToStdUtf8(taken)), 8u);

  // A further piece takes the next counter free on disk and in the table.
  const std::wstring piece1 = video_ + L"/Film_Chan_03-04-2008 20-00-01 Tev 1.asf";
  EXPECT_EQ(DVR::NextPieceFileName(taken), piece1);
  std::ofstream(tev::ToStdUtf8(piece1)) << "part";
  InsertPath(video_ + L"/Film_Chan_03-04-2008 20-00-01 Tev 2.asf");
  EXPECT_EQ(DVR::NextPieceFileName(piece1), video_ + L"/Film_Chan_03-04-2008 20-00-01 Tev 3.asf");
  EXPECT_EQ(DVR::NextPieceFileName(video_ + L"/Clip 2024.wma"), video_ + L"/Clip 2024 1.wma");
}

TEST_F(DVRNames, DuplicateQueryFailureIsNoDuplicate) {
  InsertPath(L"/r/it's.asf");
  EXPECT_TRUE(DVR::HasDuplicate(L"/r/it's.asf", 0));
  EXPECT_FALSE(DVR::HasDuplicate(L"/r/it's.asf", 1));
  database_->FailStatementsAfter(0);
  EXPECT_FALSE(DVR::HasDuplicate(L"/r/it's.asf", 0));
  database_->FailStatementsAfter(-1);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"HasDuplicate SQL failed SELECT * FROM Schedules WHERE "
                                       L"FilePath = '/r/it''s.asf' AND ID!=0"));
}

TEST(DVR, ParsesRecordingFileNames) {
  struct Case {
    const wchar_t* path;
    bool ok;
    const wchar_t* parts;  // extension|name|channel|date; null: not read
  } cases[] = {
      {L"Show_Chan_03-04-2008 20-00-01 Tev.asf", true, L"asf|Show|Chan|03/04/2008 20:00:01"},
      {L"/rec/News_Channel 4_03-04-2008 20-00-01 Tev.asf", true,
       L"asf|News|Channel 4|03/04/2008 20:00:01"},
      // A repeated name carries no "Tev." marker: not a name the parser takes.
      {L"/rec/News_Channel 4_03-04-2008 20-00-01 Tev 1.asf", false, nullptr},
      {L"/rec/Talk 12-31-2009 23-59-59 Tev.wma", true, L"wma|Talk||12/31/2009 23:59:59"},
      {L"/r/A_B_C_01-02-2010 03-04-05 Tev.asf", true, L"asf|A_B|C|01/02/2010 03:04:05"},
      {L"/r/Solo_01-02-2010 03-04-05 Tev.asf", true, L"asf|Solo||01/02/2010 03:04:05"},
      {L"/r/ 01-02-2010 03-04-05 Tev.asf", false, L"asf|||01/02/2010 03:04:05"},
      {L"/r/short Tev.asf", false, nullptr},
      {L"/r/no marker.asf", false, nullptr},
      {L"xTev.asf", false, nullptr},
      {L"", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(tev::ToStdUtf8(c.path));
    std::wstring extension = L"-", name = L"-", channel = L"-", date = L"-";
    EXPECT_EQ(DVR::ParseRecordingFileName(c.path, &extension, &name, &channel, &date), c.ok);
    if (c.parts != nullptr) {
      EXPECT_EQ(extension + L"|" + name + L"|" + channel + L"|" + date, c.parts);
    }
  }
  EXPECT_FALSE(DVR::ParseRecordingFileName(L"/r/x Tev.", nullptr, nullptr, nullptr, nullptr));
}

TEST(DVR, ExpandsDateWildcards) {
  dbtest::ScopedZone zone("UTC");
  const std::wstring start = L"20080304200001";
  struct Case {
    const wchar_t* url;
    const wchar_t* expanded;
  } cases[] = {
      {L"http://h/p{yyyyMMdd}.asx", L"http://h/p20080304.asx"},
      {L"http://h/{YYYY}/{yy}/{mm}-{DD}", L"http://h/2008/08/03-04"},
      {L"http://h/{yyy}", L"http://h/08y"},
      {L"{dd}/x", L"{dd}/x"},
      {L"http://h/{dd", L"http://h/{dd"},
      {L"http://h/{}x", L"http://h/x"},
      {L"http://h/{a{dd}b}", L"http://h/a04b"},
      {L"http://h/plain", L"http://h/plain"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DVR::ReplaceWildcardInUrl(c.url, start), c.expanded) << tev::ToStdUtf8(c.url);
  }
  zone.env.SetNow(UtcTime(2011, 12, 25, 12, 0, 0));
  EXPECT_EQ(DVR::ReplaceWildcardInUrl(L"u{yyyymmdd}", L""), L"u20111225");
}

}  // namespace
