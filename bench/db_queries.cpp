// Median time of the statements one "ScheduleRecording" runs (duplicate
// tests, the conflict check's overlap selection, the read-back, the medium
// id, the timer's start and stop queries, the old-row sweep) and of the
// insert itself, on Schedules tables filled as years of use fill them (90 %
// finished recordings over five years, 10 % scheduled over the coming year,
// a few skipped or conflicting) at 100, 10,000 and 100,000 rows. Each
// statement runs through SQLite::RunQuery as the engine runs it (bound values,
// whole result loaded, rows read by name into a Schedule: the first row for
// the limited timer queries, every row otherwise). Printed per size, with
// the sum over one ScheduleRecording's statements and its growth from 100
// to 100,000 rows (goal: at most 2x), and the query plan of each statement
// at the largest size.
//
// Usage: db_queries [--runs N]. The data lives in temporary folders that
// are removed at the end.
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "tests/common/ScheduleTable.h"

namespace {

// Bytes read, kept so that no read is optimised away.
volatile size_t g_sink = 0;

// Reads the rows of a RunQuery result by name, as the engine does: the
// first only, or all.
void ReadRows(SQLite& query, bool all) {
  size_t bytes = 0;
  for (int32_t i = 0; i < query.GetRowCount(); ++i) {
    Schedule row;
    row.FillFromRow(query);
    bytes += row.m_filePath.size();
    if (!all) break;
    query.Next();
  }
  g_sink = g_sink + bytes;
}

struct Statement {
  const char* name;
  std::string sql;
  std::vector<SqlValue> values;
  int32_t limit;  // LimitRows, 0 for none
};

struct Measured {
  std::vector<double> medians;  // per statement, microseconds
  std::vector<std::vector<std::string>> plans;
  double insert = 0;
  bool ok = false;
};

// The statements of one ScheduleRecording of a programme at `start`, with
// the texts the engine uses.
std::vector<Statement> IntakeStatements(int64_t start, const std::wstring& path) {
  const std::wstring s = FormatTime3(start);
  const std::wstring e = FormatTime3(start + 3600);
  const std::wstring now = FormatTime3(tev::Clock::Now());
  const std::wstring cutOff = FormatTime3(tev::Clock::Now() - 120);
  return {
      {"file name in use", "SELECT * FROM Schedules WHERE FilePath = ? AND ID!=?", {path, 0}, 0},
      {"same programme",
       "SELECT * FROM Schedules WHERE Name = ? AND Channel = ? AND StartTime = ? AND Duration = ? "
       "AND (Status = ? OR Status = ? OR Status = ?) AND ID != ?",
       {L"Show 7", L"tv.7", s, 3600, L"DVRSTATE_SCHEDULED", L"DVRSTATE_CONFLICT",
        L"DVRSTATE_SKIP", 0},
       0},
      {"overlap selection",
       "SELECT * FROM Schedules WHERE ((StartTime >= ? AND StartTime < ?) OR  (EndTime > ? "
       "AND EndTime <= ?) OR  (StartTime <= ? AND EndTime > ?)) AND (Status = ? OR Status = ?) "
       "AND (ChannelMimetype = ?) AND (ID != ?)",
       {s, e, s, e, s, e, L"DVRSTATE_RECORDING", L"DVRSTATE_SCHEDULED", L"video/x-tv", 0},
       0},
      {"read back", "SELECT * FROM Schedules WHERE FilePath = ? AND Status=?",
       {path, L"DVRSTATE_SCHEDULED"}, 0},
      {"medium id", "SELECT * from Schedules WHERE ID = ?", {77}, 0},
      {"timer start", "SELECT * FROM Schedules WHERE Status = ? AND StartTime > ? ORDER BY StartTime",
       {L"DVRSTATE_SCHEDULED", cutOff}, 1},
      {"timer stop",
       "SELECT * FROM Schedules WHERE Status = ? OR Status = ?  AND EndTime > ? ORDER BY EndTime",
       {L"DVRSTATE_SCHEDULED", L"DVRSTATE_RECORDING", cutOff}, 1},
      {"old skipped rows",
       "SELECT * from Schedules WHERE (Status = ? OR Status = ?)AND EndTime < ?",
       {L"DVRSTATE_SKIP", L"DVRSTATE_CONFLICT", now}, 0},
  };
}

std::vector<std::string> Plan(sqlite3* raw, const std::string& sql) {
  std::vector<std::string> lines;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(raw, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr) ==
      SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      lines.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
    }
  }
  sqlite3_finalize(stmt);
  return lines;
}

Measured MeasureAt(int rows, int runs) {
  Measured measured;
  char pattern[] = "/tmp/tev-db-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return measured;
  const std::string folder = std::string(pattern) + "/TevPVR";
  sqlite3* raw = nullptr;
  tev::test::TableShape shape;
  shape.rows = rows;
  std::string error;
  std::unique_ptr<Database> database(new Database(tev::FromStdUtf8(folder)));
  if (database->Open() &&
      sqlite3_open((folder + "/TevPVR.db").c_str(), &raw) == SQLITE_OK &&
      tev::test::FillSchedules(raw, shape, tev::Clock::Now(), &error)) {
    const int64_t start = (tev::Clock::Now() / 3600 + 72) * 3600;
    const std::wstring path = L"/srv/tev/Recorded TV/Bench_BBC One_" + FormatTime3(start) +
                              L" Tev.asf";
    for (const Statement& statement : IntakeStatements(start, path)) {
      std::vector<double> samples;
      for (int i = 0; i < runs; ++i) {
        auto a = std::chrono::steady_clock::now();
        SQLite query;
        if (statement.limit > 0) query.LimitRows(statement.limit);
        query.RunQuery(statement.sql, statement.values, L"bench");
        ReadRows(query, statement.limit == 0);
        samples.push_back(bench::Micros(a, std::chrono::steady_clock::now()));
      }
      measured.medians.push_back(bench::Median(samples));
      std::string sql = SQLite::RewriteColumnList(statement.sql);
      if (statement.limit > 0) sql += " LIMIT ?";
      measured.plans.push_back(Plan(raw, sql));
    }
    // The insert, each row removed again outside the timing.
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
      Schedule row;
      row.m_user = L"bench";
      row.m_status = DVRSTATE_SCHEDULED;
      row.m_type = L"Manual";
      row.m_channelName = L"BBC One";
      row.m_channelMimetype = L"video/x-tv";
      row.m_channel = L"ch1";
      row.m_startTime = start + i * 3600;
      row.m_duration = 3600;
      row.m_endTime = row.m_startTime + 3600;
      row.m_name = L"Bench";
      row.m_filePath = path + std::to_wstring(i);
      auto a = std::chrono::steady_clock::now();
      row.Insert();
      samples.push_back(bench::Micros(a, std::chrono::steady_clock::now()));
      Schedule::Delete(row.m_filePath);
    }
    measured.insert = bench::Median(samples);
    measured.ok = true;
  } else if (!error.empty()) {
    std::fprintf(stderr, "db_queries: fill failed: %s\n", error.c_str());
  }
  sqlite3_close_v2(raw);
  database.reset();
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
  return measured;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = bench::Runs(argc, argv, 101);
  setenv("TZ", "UTC", 1);
  tzset();
  const int sizes[] = {100, 10000, 100000};
  std::vector<Measured> all;
  for (int rows : sizes) {
    all.push_back(MeasureAt(rows, runs));
    if (!all.back().ok) return 1;
  }
  const std::vector<Statement> statements = IntakeStatements(0, L"");

  std::printf("db_queries: statements of one ScheduleRecording, %d runs each, median us\n", runs);
  std::printf("  %-20s %10s %10s %10s %8s\n", "statement", "100", "10,000", "100,000", "growth");
  std::vector<double> sums(all.size(), 0.0);
  for (size_t s = 0; s < statements.size(); ++s) {
    std::printf("  %-20s", statements[s].name);
    for (size_t k = 0; k < all.size(); ++k) {
      std::printf(" %10.1f", all[k].medians[s]);
      sums[k] += all[k].medians[s];
    }
    std::printf(" %7.2fx\n", all.back().medians[s] / all.front().medians[s]);
  }
  std::printf("  %-20s", "insert");
  for (const Measured& m : all) std::printf(" %10.1f", m.insert);
  std::printf(" %7.2fx\n", all.back().insert / all.front().insert);
  std::printf("  %-20s", "sum with the insert");
  for (size_t k = 0; k < all.size(); ++k) std::printf(" %10.1f", sums[k] + all[k].insert);
  const double growth = (sums.back() + all.back().insert) / (sums.front() + all.front().insert);
  std::printf(" %7.2fx\n", growth);
  bench::PrintGoal("one ScheduleRecording's statements at 100,000 rows <= 2x at 100 rows",
                   growth <= 2.0);

  std::printf("Query plans at 100,000 rows\n");
  for (size_t s = 0; s < statements.size(); ++s) {
    std::printf("  %s\n", statements[s].name);
    for (const std::string& line : all.back().plans[s]) std::printf("    %s\n", line.c_str());
  }
  return 0;
}
