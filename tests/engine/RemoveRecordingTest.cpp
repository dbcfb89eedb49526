// Taking schedules out of use: pass episodes stay as DELETED rows, one-off
// plans leave the table and free their tuner, running recordings stop,
// finished ones lose their file and thumbnail.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "dvr/ThumbnailTable.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using peertest::Elem;

class RemoveRecordingTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    thumbnails_.SetFileMode(true);
  }
  static bool Exists(const std::wstring& path) {
    return std::filesystem::exists(tev::WideToUtf8(path));
  }
  static void Touch(const std::wstring& path) { std::ofstream(tev::WideToUtf8(path)) << "x"; }
};

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
