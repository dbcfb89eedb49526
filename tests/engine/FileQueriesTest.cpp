// File queries by medium id: descriptions, the file or thumbnail to play,
// play positions and thumbnail flags, on real rows and real files.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "tests/engine/RowFixture.h"

namespace enginetest {
namespace {

class FileQueriesTest : public RowFixture {
 protected:
  // A row published under `mediumId`; its ID.
  int Published(const std::string& mediumId, RowValues values) {
    const int id = Row(values);
    Schedules::AssignTevMediumId(id, tev::FromStdUtf8(mediumId));
    return id;
  }
  static std::map<std::wstring, std::wstring> PairsOf(const FileDescription& list) {
    return std::map<std::wstring, std::wstring>(list.begin(), list.end());
  }
  static void Touch(const std::wstring& path) { std::ofstream(tev::WideToUtf8(path)) << "x"; }
};

TEST_F(FileQueriesTest, DescribesARecordingWithItsDurationText) {
  const struct {
    int32_t seconds;
    const wchar_t* text;
  } cases[] = {{59, L"59 sec"}, {3599, L"59 min"}, {3600, L"60 min"}, {-1, L"-1 sec"}};
  int n = 0;
  for (const auto& c : cases) {
    RowValues values;
    values.name = L"Show" + std::to_wstring(n);
    values.duration = c.seconds;
    values.start = 1300000000;
    values.status = DVRSTATE_COMPLETE;
    const std::string mediumId = "M" + std::to_string(++n);
    const int id = Published(mediumId, values);
    FileDescription reply;
    ASSERT_EQ(FileQueries::GetFileInfoFromID(tev::FromStdUtf8(mediumId), &reply), 0);
    auto pairs = PairsOf(reply);
    EXPECT_EQ(pairs[L"Duration"], c.text) << c.seconds;
    EXPECT_EQ(pairs[L"Medium"], Path(id));
    EXPECT_EQ(pairs[L"Mimetype"], L"video/x-ms-dvr");
    EXPECT_EQ(pairs[L"Name"], values.name);
    EXPECT_EQ(pairs[L"Channel"], L"BBC One");
    EXPECT_EQ(pairs[L"Start Time"], FormatTime3(1300000000));
    EXPECT_EQ(pairs[L"PlayPosition"], L"0");
  }
  // The play position is stored and read back; an unknown id changes nothing.
  ASSERT_EQ(FileQueries::SetPlayPosition(L"M2", 4242), 0);
  EXPECT_EQ(FileQueries::SetPlayPosition(L"M99", 7), kResultNoSuchSchedule);
  FileDescription reply;
  ASSERT_EQ(FileQueries::GetFileInfoFromID(L"M2", &reply), 0);
  EXPECT_EQ(PairsOf(reply)[L"PlayPosition"], L"4242");
  EXPECT_EQ(Rows("PlayPosition", "PlayPosition IS NOT NULL").size(), 1u);

  FileDescription none = reply;
  EXPECT_EQ(FileQueries::GetFileInfoFromID(L"M99", &none), kResultNoSuchSchedule);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileQueriesTest, ListKeepsInputOrderAndAnswersEmptyForIdsThatNameNoRecording) {
  RowValues a, b;
  a.name = L"Alpha";
  b.name = L"Beta";
  Published("M1", a);
  Published("M2", b);
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId, ProgramName) VALUES ('P1', 'x')");

  std::vector<FileDescription> reply;
  ASSERT_EQ(FileQueries::GetFileListInfoFromID({L"M2", L"nope", L"M1", L"P1", L"M2"}, &reply), 0);
  ASSERT_EQ(reply.size(), 5u);
  const wchar_t* expected[] = {L"Beta", nullptr, L"Alpha", nullptr, L"Beta"};
  for (size_t i = 0; i < 5; ++i) {
    auto pairs = PairsOf(reply[i]);
    if (expected[i] == nullptr) {
      EXPECT_TRUE(pairs.empty()) << i;
      continue;
    }
    EXPECT_EQ(pairs[L"title"], expected[i]) << i;
    EXPECT_EQ(pairs[L"mimeType"], L"video/x-ms-dvr");
    EXPECT_EQ(pairs[L"duration"], L"60 min");
    EXPECT_EQ(pairs.count(L"Subtitle") + pairs.count(L"PlayPosition"), 0u);
  }
}

TEST_F(FileQueriesTest, FileAndThumbnailOfARecordingWhileTheyAreOnDisk) {
  RowValues values;
  values.status = DVRSTATE_COMPLETE;
  const int id = Published("M1", values);
  const std::wstring path = Path(id);
  Touch(path);
  Touch(path + L".jpg");

  FileLocation file, thumbnail;
  ASSERT_EQ(FileQueries::GetFilenameFromID(L"M1", &file), 0);
  EXPECT_EQ(file.path, path);
  EXPECT_EQ(file.mimetype, L"video/x-ms-dvr");
  ASSERT_EQ(FileQueries::GetFilenameFromID(L"RT" + std::to_wstring(id), &thumbnail), 0);
  EXPECT_EQ(thumbnail.path, path + L".jpg");
  EXPECT_EQ(thumbnail.mimetype, L"image/jpeg");

  std::filesystem::remove(tev::WideToUtf8(path));
  FileLocation gone, unknown, pass;
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"M1", &gone), kResultFileGone);
  EXPECT_TRUE(gone.path.empty());
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"M7", &unknown), kResultNoSuchSchedule);
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"RT999", &unknown), kResultNoSuchSchedule);
  dbtest::RawDb(dbPath_).Exec("INSERT INTO SeasonPasses (TevMediumId) VALUES ('P1')");
  EXPECT_EQ(FileQueries::GetFilenameFromID(L"P1", &pass), kResultNoSuchSchedule);
}

TEST_F(FileQueriesTest, ThumbnailFlagFollowsTheRowsState) {
  const int id = Row(RowValues());
  const std::wstring path = Path(id);
  EXPECT_FALSE(DVR::HasThumbnailAlreadyBeenAsked(L"/no/such/file.asf"));
  EXPECT_FALSE(DVR::HasThumbnailAlreadyBeenAsked(path));  // NULL
  DVR::SetThumbnailAlreadyBeenRequested(path);
  EXPECT_TRUE(DVR::HasThumbnailAlreadyBeenAsked(path));
  EXPECT_EQ(Column(id, "ThumbnailState"), "requested");
}

}  // namespace
}  // namespace enginetest
