// The state setter against its transition table, on a real database: every
// (reason, from, to) the table lists is written, every other one is refused
// and leaves the row alone.
#include "engine/StatusChange.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

namespace {

constexpr int kLastReason = static_cast<int>(StatusReason::kUserRemoved);

class StatusChangeTest : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    OpenNew();
  }
  // A stored row in `status`; its ID.
  int Row(const std::wstring& status, const std::wstring& path) {
    Schedule row;
    row.m_user = L"bob";
    row.m_type = L"Manual";
    row.m_status = status;
    row.m_channelMimetype = L"video/x-tv";
    row.m_startTime = 1700000000;
    row.m_duration = 600;
    row.m_endTime = row.m_startTime + row.m_duration;
    row.m_name = L"Show";
    row.m_filePath = path;
    EXPECT_TRUE(row.Insert());
    return Schedule::GetIdFromPath(path);
  }
  std::wstring Stored(int id) { return Schedule(id).m_status; }
  void Store(int id, const std::wstring& status) {
    SQLite query;
    ASSERT_TRUE(query.RunQuery("UPDATE Schedules SET Status = ? WHERE ID = ?", {status, id},
                               L"test"));
  }
};

TEST_F(StatusChangeTest, EveryTransitionOutsideTheTableIsRefusedAndEveryOneInItIsWritten) {
  const std::wstring path = L"/rec/walk.asf";
  const int id = Row(DVRSTATE_SCHEDULED, path);
  int written = 0;
  int refused = 0;
  for (int r = 0; r <= kLastReason; ++r) {
    const StatusReason reason = static_cast<StatusReason>(r);
    for (const wchar_t* from : AllStatusNames()) {
      for (const wchar_t* to : AllStatusNames()) {
        Store(id, from);
        Schedule row(id);
        const StatusTransition* t = FindStatusTransition(reason, from, to);
        if (t != nullptr && t->write == StatusWrite::kBulk) {
          std::vector<Schedule> rows{row};
          ASSERT_TRUE(SetScheduleStatuses(rows, to, 1700000000, reason,
                                          "UPDATE Schedules SET Status = ? WHERE ID > 0", {to}));
          ASSERT_EQ(rows.size(), 1u);
          EXPECT_EQ(Stored(id), to);
          ++written;
          continue;
        }
        log_->Clear();
        const StatusChange change = SetScheduleStatus(row, to, 1700000000, reason);
        const std::string what = tev::ToStdUtf8(std::wstring(StatusReasonName(reason)) + L" " +
                                                from + L" -> " + to);
        if (t != nullptr) {
          EXPECT_TRUE(change.written) << what;
          EXPECT_EQ(change.changed, std::wstring(from) != to) << what;
          EXPECT_EQ(row.m_status, to) << what;
          EXPECT_EQ(Stored(id), to) << what;
          ++written;
        } else {
          EXPECT_FALSE(change.written) << what;
          EXPECT_EQ(row.m_status, from) << what;
          EXPECT_EQ(Stored(id), from) << what;
          EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::SetStatus refused")) << what;
          // The bulk form refuses the same changes.
          std::vector<Schedule> rows{row};
          EXPECT_TRUE(SetScheduleStatuses(rows, to, 1700000000, reason,
                                          "UPDATE Schedules SET Status = 'x' WHERE ID > 0", {}));
          EXPECT_TRUE(rows.empty()) << what;
          EXPECT_EQ(Stored(id), from) << what;
          ++refused;
        }
      }
    }
  }
  // Far more is refused than allowed: the table is a rule, not a formality.
  EXPECT_GT(written, 0);
  EXPECT_GT(refused, 10 * written);
}

TEST_F(StatusChangeTest, AFailedWriteLeavesTheRowInItsOldState) {
  const int id = Row(DVRSTATE_SCHEDULED, L"/rec/fail.asf");
  Schedule row(id);
  SQLite::FailStatementsAfterForTest(0);
  const StatusChange change = SetScheduleStatus(row, DVRSTATE_CONFLICT, 0, StatusReason::kConflictCheck);
  SQLite::FailStatementsAfterForTest(-1);
  EXPECT_FALSE(change.written);
  EXPECT_FALSE(change.changed);
  EXPECT_EQ(row.m_status, DVRSTATE_SCHEDULED);
  EXPECT_EQ(Stored(id), DVRSTATE_SCHEDULED);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SQL error in Schedule::Update(id, field, value)"));
}

TEST_F(StatusChangeTest, ChangesStampTheirTimesFromNow) {
  const int id = Row(DVRSTATE_COMPLETE, L"/rec/retry.asf");
  Schedule row(id);
  ASSERT_TRUE(SetScheduleStatus(row, DVRSTATE_SCHEDULED, 1800000000, StatusReason::kRetry));
  Schedule stored(id);
  EXPECT_EQ(stored.m_startTime, 1800000000);
  EXPECT_EQ(stored.m_endTime, 1800000000 + 600);

  Store(id, DVRSTATE_RECORDING);
  Schedule running(id);
  ASSERT_TRUE(SetScheduleStatus(running, DVRSTATE_COMPLETE_PARTIAL, 1800000100,
                                StatusReason::kCancel));
  EXPECT_EQ(Schedule(id).m_endTime, 1800000100);
}

TEST_F(StatusChangeTest, ABulkChangeWritesOnlyTheRowsItSelected) {
  const int first = Row(DVRSTATE_RECORDING, L"/rec/a.asf");
  const int second = Row(DVRSTATE_RECORDING, L"/rec/b.asf");
  SQLite select;
  ASSERT_TRUE(select.RunQuery("SELECT * FROM Schedules WHERE Status = 'DVRSTATE_RECORDING'",
                              L"test"));
  std::vector<Schedule> rows = Schedule::FromRows(select);
  // A row that starts recording between the selection and the write.
  const int late = Row(DVRSTATE_RECORDING, L"/rec/c.asf");
  ASSERT_TRUE(SetScheduleStatuses(
      rows, DVRSTATE_COMPLETE_PARTIAL, 0, StatusReason::kCrashRecovery,
      "UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE_PARTIAL' WHERE Status = "
      "'DVRSTATE_RECORDING'", {}));
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(Stored(first), DVRSTATE_COMPLETE_PARTIAL);
  EXPECT_EQ(Stored(second), DVRSTATE_COMPLETE_PARTIAL);
  // Not published, so not written: the next clean-up takes it.
  EXPECT_EQ(Stored(late), DVRSTATE_RECORDING);
}

}  // namespace
