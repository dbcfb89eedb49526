// Every statement the engine runs on the road of a recording reaches its rows through an
// index in 100,000 mostly finished rows: each is explained and re-run on the test's own
// connection, counting SQLite VM steps (work, not time).
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "monitor/FileSystemMonitor.h"
#include "platform/Clock.h"
#include "tests/common/ScheduleTable.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;

constexpr int kRows = 100000;
constexpr int kUpcoming = 200;
// Far below one step per finished row: a statement that visits the
// finished rows takes several hundred thousand.
constexpr int64_t kStepLimit = 25000;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

class QueryPlans : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
    PVRVel::SetLive(pvr_.get());
    env_.SetInstantSleep(true);  // the thumbnail delay passes at once
    // Enough tuners that the upcoming rows never make a conflict.
    tv_.SetTuners(std::vector<tev::peers::Tuner>(30, {L"Tuner", L"video/x-tv"}));
    streamer_.SetRequestTimeout(30000);
    ASSERT_EQ(sqlite3_open(dbPath_.c_str(), &raw_), SQLITE_OK);
    sqlite3_busy_timeout(raw_, 10000);
  }
  void Fill() {
    // With files, which the monitor's pass finds.
    const tev::test::TableShape shape{
        kRows, static_cast<double>(kUpcoming) / kRows, 5 * 365, 1, 30, videoDir_, true};
    std::string error;
    ASSERT_TRUE(tev::test::FillSchedules(raw_, shape, tev::Clock::Now(), &error)) << error;
  }
  void TearDown() override {
    database_->ObserveStatements(nullptr);
    if (pvr_) pvr_->GetSchedules().Shutdown();
    PVRVel::SetLive(nullptr);
    sqlite3_close_v2(raw_);
    EngineFixture::TearDown();
  }

  void Record() {
    database_->ObserveStatements([this](const std::string& sql) {
      std::lock_guard<std::mutex> hold(mutex_);
      if (Lower(sql).find("schedules") != std::string::npos) statements_.insert(sql);
    });
  }
  std::set<std::string> Recorded() {
    database_->ObserveStatements(nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    return statements_;
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(raw_) << "\n" << sql;
    }
    return stmt;
  }
  std::vector<std::string> Plan(const std::string& sql) {
    std::vector<std::string> lines;
    sqlite3_stmt* stmt = Prepare("EXPLAIN QUERY PLAN " + sql);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      lines.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
    }
    sqlite3_finalize(stmt);
    return lines;
  }
  // Every row is stepped; a change is rolled back.
  int64_t Steps(const std::string& sql) {
    sqlite3_exec(raw_, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = Prepare(sql);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    }
    const int64_t steps = stmt ? sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_exec(raw_, "ROLLBACK", nullptr, nullptr, nullptr);
    return steps;
  }

  sqlite3* raw_ = nullptr;
  std::mutex mutex_;
  std::set<std::string> statements_;
};

TEST_F(QueryPlans, TheRoadOfARecordingNeverWalksTheFinishedRows) {
  // Started on an empty table: the reconciliation with the library reads every row by design.
  ASSERT_TRUE(Engine().Initialize());
  Fill();
  Record();
  // The folder monitors may have settled orphans already: a new run's engine does it again.
  Schedules nextRun(Recorder());
  nextRun.Housekeeping().ChangeRecordingToCompletePartial(tev::Clock::Now());
  Engine().Housekeeping().ResumeRecordings();
  Engine().Housekeeping().RemoveOldSchedules(tev::Clock::Now());
  Engine().StartStop().SetRecordingTimer();

  const int64_t start = tev::Clock::Now() / 60 * 60 + 600;
  ScheduleAnswer later;
  ASSERT_EQ(Add(L"Plan Later", start, 1800, 0, L"video/x-tv", L"", &later), 0);
  ASSERT_EQ(Add(L"Plan Now", 0, 900, 1), 0) << tev::ToStdUtf8(log_->Dump());
  ASSERT_TRUE(streamer_.WaitFor(L"StartStream", 1, 15000));
  const std::wstring nowPath = peertest::Str(Last(streamer_, L"StartStream").get(), 11);
  EXPECT_EQ(streamer_.NotifyStarted(nowPath), 0);

  env_.SetNow(start - 30);
  ASSERT_TRUE(streamer_.WaitFor(L"StartStream", 2, 15000)) << tev::ToStdUtf8(log_->Dump());
  const std::wstring laterPath = peertest::Str(Last(streamer_, L"StartStream").get(), 11);
  EXPECT_EQ(streamer_.NotifyStarted(laterPath), 0);
  Engine().Completion().NotifyThumbnailNeeded(laterPath);
  std::vector<CurrentRecording> recording;
  EXPECT_EQ(Engine().Completion().GetCurrentlyRecording(&recording, true), 0);

  const int nowId = LocalIds::GetLocalIdFromPath(nowPath);
  ASSERT_GT(nowId, 0);
  EXPECT_EQ(LocalIds::GetLocalIdFromTevMediumId(LocalIds::GetScheduleMediumId(nowId)), nowId);
  Engine().Completion().CancelScheduledRecording(nowId, tev::Clock::Now());
  Engine().Completion().RetrySchedule(nowId, tev::Clock::Now());
  Engine().Conflicts().UpdateConflicts(nowId, tev::Clock::Now());
  ScheduleAnswer conflicts;
  Engine().Conflicts().GetConflicts(later.mediumId, &conflicts);

  env_.SetNow(start + 1800 + 30);
  ASSERT_TRUE(streamer_.WaitFor(L"StopStream", 2, 15000)) << tev::ToStdUtf8(log_->Dump());
  EXPECT_EQ(streamer_.NotifyFinished(laterPath, 1855), 0);
  Engine().Housekeeping().PruneOrphanedRecordings(tev::Clock::Now());
  Engine().Housekeeping().RemoveOldSchedules(tev::Clock::Now());
  // The folder monitor's daily pass walks the finished rows page by page.
  Engine().Monitors().Monitor(L"video")->RunPass();
  Engine().Shutdown();

  const std::set<std::string> statements = Recorded();
  ASSERT_GE(statements.size(), 25u);
  for (const std::string& sql : statements) {
    for (const std::string& line : Plan(sql)) {
      EXPECT_NE(Lower(line).rfind("scan schedules", 0), 0u) << line << "\n" << sql;
    }
    EXPECT_LE(Steps(sql), kStepLimit) << sql;
  }
}

}  // namespace
