// File queries by medium id: descriptions, the file or thumbnail to play,
// play positions and thumbnail flags, on real rows and real files.
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

class FileQueriesTest : public EngineFixture {
 protected:
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
    const std::wstring name = L"Show" + std::to_wstring(n), mediumId = L"M" + std::to_wstring(++n);
    const int id =
        Published(mediumId, Values(name, 1300000000, c.seconds, L"video/x-tv", DVRSTATE_COMPLETE));
    FileDescription reply;
    ASSERT_EQ(FileQueries::GetFileInfoFromID(mediumId, &reply), 0);
    auto pairs = PairsOf(reply);
    for (const auto& expected :
         std::map<std::wstring, std::wstring>{{L"Duration", c.text},
                                              {L"Medium", Path(id)},
                                              {L"Mimetype", L"video/x-ms-dvr"},
                                              {L"Name", name},
                                              {L"Channel", L"BBC One"},
                                              {L"Start Time", FormatTime3(1300000000)},
                                              {L"PlayPosition", L"0"}}) {
      EXPECT_EQ(pairs[expected.first], expected.second) << c.seconds;
    }
  }
  // A play position stored and read back: WebLive.RecordingRunsFinishesDownloadsAndIsDeleted.
  FileDescription none{{L"left", L"over"}};
  EXPECT_EQ(FileQueries::GetFileInfoFromID(L"M99", &none), kResultNoSuchSchedule);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileQueriesTest, ListKeepsInputOrderAndAnswersEmptyForIdsThatNameNoRecording) {
  Published(L"M1", Values(L"Alpha", 0));
  Published(L"M2", Values(L"Beta", 0));
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

TEST_F(FileQueriesTest, FileAndThumbnailOfARecordingButNotOfAPass) {
  const int id = Published(L"M1", Values(L"Show", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
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

  // A file gone: FileServices.FileOfARecordingUntilItIsGone.
  FileLocation unknown, pass;
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
