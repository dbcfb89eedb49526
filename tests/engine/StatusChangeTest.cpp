// The state setter on a real database: every (reason, from, to) of a row's
// life is written, every other one is refused and leaves the row alone. And
// the medium ids of rows.
#include "engine/StatusChange.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "dvr/ThumbnailTable.h"
#include "engine/LibrarySync.h"
#include "engine/Schedules.h"
#include "platform/WideText.h"
#include "tests/common/FakePeers.h"
#include "tests/db/DbTestSupport.h"

namespace {

constexpr int kLastReason = static_cast<int>(StatusReason::kLibraryRemoved);

class StatusChangeTest : public dbtest::DbFixture {
 protected:
  testpeers::FakePeers peers_;
  ThumbnailTable thumbnails_;
  LibrarySync library_{peers_, thumbnails_};
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
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

// The life of a row as the module's operations make it, written out here
// rather than read from the setter's table: a change added to or dropped
// from that table by mistake shows as a difference.
struct Allowed {
  StatusReason reason;
  std::vector<std::wstring> from;
  std::vector<std::wstring> to;
  bool bulk;
};

std::vector<Allowed> ExpectedLife() {
  using R = StatusReason;
  const std::vector<std::wstring> pending{DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT};
  const std::vector<std::wstring> notStarted{DVRSTATE_MCE_RUNNING, DVRSTATE_TUNER_BUSY,
                                             DVRSTATE_COULD_NOT_CONNECT};
  std::vector<std::wstring> failedStart = notStarted;
  failedStart.push_back(DVRSTATE_ERROR);
  std::vector<std::wstring> newFile = failedStart;
  newFile.push_back(DVRSTATE_RECORDING);
  std::vector<std::wstring> finishable = notStarted;
  finishable.push_back(DVRSTATE_RECORDING);
  // Everything but a stream being written can be tried again.
  std::vector<std::wstring> retryable{
      DVRSTATE_SCHEDULED, DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_CONFLICT,
      DVRSTATE_SKIP, DVRSTATE_ERROR, DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_TUNER_BUSY,
      DVRSTATE_MCE_RUNNING, DVRSTATE_MISSED, DVRSTATE_DISK_FULL, DVRSTATE_RETRY, DVRSTATE_DELETED};
  std::vector<Allowed> life{
      {R::kConflictCheck, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, DVRSTATE_SKIP}, {DVRSTATE_CONFLICT}, false},
      {R::kBumped, pending, {DVRSTATE_SKIP}, false},
      {R::kConflictUpdate, {DVRSTATE_CONFLICT, DVRSTATE_SKIP}, {DVRSTATE_SCHEDULED}, false},
      {R::kReplanned, {DVRSTATE_CONFLICT}, {DVRSTATE_SCHEDULED}, false},
      {R::kForced, pending, {DVRSTATE_SCHEDULED}, false},
      {R::kForcedAside, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING}, {DVRSTATE_SKIP}, false},
      {R::kDiskFull, {DVRSTATE_SCHEDULED}, {DVRSTATE_DISK_FULL}, false},
      {R::kStart, {DVRSTATE_SCHEDULED}, {DVRSTATE_RECORDING}, false},
      {R::kStartOutcome, {DVRSTATE_RECORDING}, failedStart, false},
      {R::kStartNewFile, {DVRSTATE_RECORDING}, newFile, false},
      {R::kMissed, pending, {DVRSTATE_RETRY}, false},
      {R::kMissed, pending, {DVRSTATE_MISSED}, true},
      {R::kRecorderFailed, {DVRSTATE_RECORDING}, {DVRSTATE_ERROR}, false},
      {R::kRecorderFinished, finishable,
       {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_ERROR}, false},
      {R::kCancel, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, false},
      {R::kRetry, retryable, {DVRSTATE_SCHEDULED}, false},
      {R::kResume, {DVRSTATE_RECORDING, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY},
       {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, false},
      {R::kAdopt, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, {DVRSTATE_RECORDING}, false},
      {R::kOrphan, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE}, true},
      {R::kCrashRecovery, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, true},
      {R::kShutdown, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, false},
      {R::kLibraryEdit, pending, pending, false},
      {R::kLibraryRemoved, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, false},
      {R::kLibraryRemoved, pending, {DVRSTATE_DELETED}, false},
  };
  // A deleted medium whose recording has finished keeps its state.
  for (const wchar_t* done : {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_ERROR,
                              DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_TUNER_BUSY, DVRSTATE_MCE_RUNNING,
                              DVRSTATE_MISSED, DVRSTATE_DISK_FULL, DVRSTATE_RETRY, DVRSTATE_DELETED}) {
    life.push_back({R::kLibraryRemoved, {done}, {done}, false});
  }
  return life;
}

// Whether the life allows the change; `bulk` says in which form.
bool Expected(const std::vector<Allowed>& life, StatusReason reason, const std::wstring& from,
              const std::wstring& to, bool* bulk) {
  auto has = [](const std::vector<std::wstring>& states, const std::wstring& s) {
    return std::find(states.begin(), states.end(), s) != states.end();
  };
  for (const Allowed& a : life) {
    if (a.reason == reason && has(a.from, from) && has(a.to, to)) {
      *bulk = a.bulk;
      return true;
    }
  }
  return false;
}

TEST_F(StatusChangeTest, EveryChangeOutsideTheLifeIsRefusedAndEveryOneInItIsWritten) {
  const std::vector<Allowed> life = ExpectedLife();
  const wchar_t* const states[] = {
      DVRSTATE_SCHEDULED,  DVRSTATE_RECORDING,   DVRSTATE_COMPLETE,          DVRSTATE_COMPLETE_PARTIAL,
      DVRSTATE_CONFLICT,   DVRSTATE_SKIP,        DVRSTATE_ERROR,             DVRSTATE_COULD_NOT_CONNECT,
      DVRSTATE_TUNER_BUSY, DVRSTATE_MCE_RUNNING, DVRSTATE_MISSED,            DVRSTATE_DISK_FULL,
      DVRSTATE_RETRY,      DVRSTATE_DELETED};
  const int id = Row(DVRSTATE_SCHEDULED, L"/rec/walk.asf");
  for (int r = 0; r <= kLastReason; ++r) {
    const StatusReason reason = static_cast<StatusReason>(r);
    for (const wchar_t* from : states) {
      for (const wchar_t* to : states) {
        const std::string what = tev::ToStdUtf8(std::wstring(StatusReasonName(reason)) + L" " +
                                                from + L" -> " + to);
        SCOPED_TRACE(what);
        bool bulk = false;
        const bool allowed = Expected(life, reason, from, to, &bulk);
        Store(id, from);
        Schedule row(id);
        log_->Clear();
        const StatusChange change = SetScheduleStatus(library_, row, to, 1700000000, reason);
        EXPECT_EQ(change.written, allowed && !bulk);
        if (change.written) {
          EXPECT_EQ(change.changed, std::wstring(from) != to);
          EXPECT_EQ(row.m_status, to);
          EXPECT_EQ(Stored(id), to);
          continue;
        }
        EXPECT_EQ(row.m_status, from);
        EXPECT_EQ(Stored(id), from);
        if (!allowed) {
          EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::SetStatus refused"));
        }
        // The bulk form writes exactly the changes it is meant for.
        std::vector<Schedule> rows{row};
        ASSERT_TRUE(SetScheduleStatuses(library_, rows, to, 1700000000, reason));
        EXPECT_EQ(rows.size(), bulk ? 1u : 0u);
        EXPECT_EQ(Stored(id), bulk ? std::wstring(to) : std::wstring(from));
      }
    }
  }
}

TEST_F(StatusChangeTest, AFailedWriteLeavesTheRowInItsOldState) {
  const int id = Row(DVRSTATE_SCHEDULED, L"/rec/fail.asf");
  Schedule row(id);
  database_->FailStatementsAfter(0);
  const StatusChange change =
      SetScheduleStatus(library_, row, DVRSTATE_CONFLICT, 0, StatusReason::kConflictCheck);
  database_->FailStatementsAfter(-1);
  EXPECT_FALSE(change.written);
  EXPECT_FALSE(change.changed);
  EXPECT_EQ(row.m_status, DVRSTATE_SCHEDULED);
  EXPECT_EQ(Stored(id), DVRSTATE_SCHEDULED);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SQL error in Schedule::Update(id, field, value)"));
}

// A cancel's end: Housekeeping.CancelStopsARecordingAndOnlyRepublishesAPlan.
TEST_F(StatusChangeTest, ARetryStampsItsTimesFromNow) {
  const int id = Row(DVRSTATE_COMPLETE, L"/rec/retry.asf");
  Schedule row(id);
  ASSERT_TRUE(
      SetScheduleStatus(library_, row, DVRSTATE_SCHEDULED, 1800000000, StatusReason::kRetry));
  Schedule stored(id);
  EXPECT_EQ(stored.m_startTime, 1800000000);
  EXPECT_EQ(stored.m_endTime, 1800000000 + 600);
}

TEST_F(StatusChangeTest, ABulkChangeWritesOnlyTheRowsItSelectedInTheStateItSawThem) {
  const int first = Row(DVRSTATE_RECORDING, L"/rec/a.asf");
  const int second = Row(DVRSTATE_RECORDING, L"/rec/b.asf");
  const int cancelled = Row(DVRSTATE_RECORDING, L"/rec/d.asf");
  SQLite select;
  ASSERT_TRUE(select.RunQuery("SELECT * FROM Schedules WHERE Status = ?", {DVRSTATE_RECORDING},
                              L"test"));
  std::vector<Schedule> rows = Schedule::FromRows(select);
  // A row that starts recording between the selection and the write, and
  // one that a cancel closes meanwhile.
  const int late = Row(DVRSTATE_RECORDING, L"/rec/c.asf");
  Store(cancelled, DVRSTATE_COMPLETE_PARTIAL);
  ASSERT_TRUE(SetScheduleStatuses(library_, rows, DVRSTATE_COMPLETE_PARTIAL, 0,
                                  StatusReason::kCrashRecovery));
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(Stored(first), DVRSTATE_COMPLETE_PARTIAL);
  EXPECT_EQ(Stored(second), DVRSTATE_COMPLETE_PARTIAL);
  // A recording cut by a crash has no known length.
  EXPECT_EQ(Schedule(first).m_duration, -1);
  // Not published, so not written: the next clean-up takes it.
  EXPECT_EQ(Stored(late), DVRSTATE_RECORDING);
  EXPECT_EQ(Schedule(late).m_duration, 600);
  // Its own change stands, length included.
  EXPECT_EQ(Schedule(cancelled).m_duration, 600);
}

class MediumIdsTest : public StatusChangeTest {};

TEST_F(MediumIdsTest, AssignByIdAndByPath) {
  const int plain = Row(DVRSTATE_SCHEDULED, L"/rec/a.wmv");
  const int quoted = Row(DVRSTATE_SCHEDULED, L"/rec/it's.wmv");
  Schedules::AssignTevMediumId(plain, L"id 'one' \u00e9");
  Schedules::AssignTevMediumId(std::wstring(L"/rec/it's.wmv"), L"two");
  Schedules::AssignTevMediumId(std::wstring(L"/rec/none.wmv"), L"three");  // no row: nothing
  EXPECT_EQ(LocalIds::GetScheduleMediumId(plain), L"id 'one' \u00e9");
  EXPECT_EQ(LocalIds::GetScheduleMediumId(quoted), L"two");
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE TevMediumId = 'three'"), "0");
}

TEST_F(MediumIdsTest, MigrationWithoutBusFailsAndChangesNothing) {
  dbtest::RawDb db(dbPath_);
  db.Exec("INSERT INTO Schedules (FilePath) VALUES ('/rec/a.wmv')");
  library_.SetLive(false);
  EXPECT_FALSE(library_.ChangeMediumIds());
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE TevMediumId IS NOT NULL"), "0");
  db.Exec("DELETE FROM Schedules");
  EXPECT_TRUE(library_.ChangeMediumIds());
  db.Exec("DROP TABLE Schedules");
  EXPECT_FALSE(library_.ChangeMediumIds());
}

}  // namespace
