// Recordings by medium id on real rows and real files: descriptions, the
// file or thumbnail to play and thumbnail flags; and taking schedules out of
// use (pass episodes stay as DELETED rows, one-off plans leave the table and
// free their tuner, running recordings stop, finished ones lose their file
// and thumbnail).
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using peertest::Elem;

class FileQueriesTest : public EngineFixture {
 protected:
  static std::map<std::wstring, std::wstring> PairsOf(const FileDescription& list) {
    return std::map<std::wstring, std::wstring>(list.begin(), list.end());
  }
  static void Touch(const std::wstring& path) { std::ofstream(tev::WideToUtf8(path)) << "x"; }
  static bool Exists(const std::wstring& path) {
    return std::filesystem::exists(tev::WideToUtf8(path));
  }
};

class RemoveRecordingTest : public FileQueriesTest {
 protected:
  void SetUp() override {
    FileQueriesTest::SetUp();
    if (HasFatalFailure()) return;
    thumbnails_.SetFileMode(true);
  }
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

TEST_F(RemoveRecordingTest, PlansOfAPassStayDeletedAndOneOffPlansLeaveAndFreeTheirTuner) {
  const int64_t start = tev::Clock::Now() + 7200;
  const int episodeId = Published(L"M-episode", Values(L"Episode", start + 86400));
  const int planId = Row(Values(L"Plan", start));
  const int waitingId =
      Row(Values(L"Waiting", start + 600, 3600, L"video/x-tv", DVRSTATE_CONFLICT));
  Schedule::Update(episodeId, L"Owner", std::wstring(L"4"));

  EXPECT_EQ(Engine().Completion().RemoveRecording(episodeId, true, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(episodeId), "DVRSTATE_DELETED");
  // The library is told to drop the medium of a plan.
  ASSERT_EQ(media_.CountOf(L"RemoveImportedMedia"), 1u);
  Value removed = Elem(Elem(Last(media_, L"RemoveImportedMedia").get(), 1).get(), 0);
  std::wstring id;
  ASSERT_TRUE(VUtil::FindPair(removed.get(), L"tevMediumId", &id));
  EXPECT_EQ(id, L"M-episode");

  // One tuner: removing the plan lets the conflicting one record.
  EXPECT_EQ(Engine().Completion().RemoveRecording(planId, false, false, tev::Clock::Now()), 0);
  EXPECT_TRUE(Rows("ID", "ID = " + std::to_string(planId)).empty());
  EXPECT_EQ(Status(waitingId), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(StatesOf(media_, Path(waitingId)).back(), L"schedule");
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 1u);

  EXPECT_EQ(Engine().Completion().RemoveRecording(4711, true, false, tev::Clock::Now()),
            0);  // no such row: nothing
}

TEST_F(RemoveRecordingTest, ARunningRecordingStopsAndBecomesPartial) {
  ASSERT_EQ(Add(L"Live", tev::Clock::Now(), 3600, 1), 0);
  const int id = std::stoi(Rows("ID", "Status = 'DVRSTATE_RECORDING'").at(0).at(0));
  EXPECT_EQ(Engine().Completion().RemoveRecording(id, false, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(id), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
}

TEST_F(RemoveRecordingTest, FinishedRecordingLosesFileAndThumbnailButKeepsItsRow) {
  const int id = Published(L"M-done", Values(L"Show", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
  const std::wstring path = Path(id);
  Touch(path);
  Touch(path + L".jpg");
  Recorder().Thumbnails().Set(id, true);

  // Stop only: the recording is announced as stopped and nothing is deleted.
  EXPECT_EQ(Engine().Completion().RemoveRecording(id, true, true, tev::Clock::Now()), 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));

  EXPECT_EQ(Engine().Completion().RemoveRecording(id, true, false, tev::Clock::Now()), 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(Exists(path + L".jpg"));
  EXPECT_EQ(Status(id), "DVRSTATE_COMPLETE");
  // A recorded medium is marked deleted in the library, not dropped.
  ASSERT_EQ(media_.CountOf(L"SetMediaAttributeList"), 1u);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 0u);
}

TEST_F(RemoveRecordingTest, AFileThatCannotBeDeletedAnswers108AndKeepsEverything) {
  const int doneId = Row(Values(L"Stuck", 0, 3600, L"video/x-tv", DVRSTATE_COMPLETE));
  const int failedId = Row(Values(L"Failed", 0, 3600, L"video/x-tv", DVRSTATE_ERROR));
  // A directory with something in it cannot be removed as a file.
  for (int id : {doneId, failedId}) {
    std::filesystem::create_directories(tev::WideToUtf8(Path(id)));
    Touch(Path(id) + L"/inside");
  }
  Touch(Path(doneId) + L".jpg");
  Recorder().Thumbnails().Set(doneId, true);

  EXPECT_EQ(Engine().Completion().RemoveRecording(doneId, true, false, tev::Clock::Now()),
            kResultRemoveFailed);
  EXPECT_TRUE(Exists(Path(doneId)));
  EXPECT_TRUE(Exists(Path(doneId) + L".jpg"));
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList") + media_.CountOf(L"RemoveImportedMedia"), 0u);
  EXPECT_NE(log_->Dump().find(L"Failed to remove Stuck"), std::wstring::npos);

  // A failed recording may have no file worth keeping: its removal goes on.
  EXPECT_EQ(Engine().Completion().RemoveRecording(failedId, false, false, tev::Clock::Now()), 0);
  EXPECT_EQ(Status(failedId), "DVRSTATE_ERROR");
}

}  // namespace
}  // namespace enginetest
