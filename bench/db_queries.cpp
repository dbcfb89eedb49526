// Median time of the statements the engine runs most, on a 10,000-row
// Schedules table: Populate by file name, the recording timer's start and
// stop queries, and the conflict check's overlap selection. Each runs
// through SQLite::RunQuery (text statement, whole result loaded with
// sqlite3_get_table, rows read by column name into a Schedule: the first
// row for the timer, every row otherwise, as the engine does) and, in the
// same run, as a statement prepared once on a second connection (values
// bound, every row stepped with every column read as text). The ratio is
// RunQuery / prepared. No goal: this is the baseline for later work on
// indexes.
//
// Usage: db_queries [--rows N] [--runs N]. The data lives in a temporary
// folder that is removed at the end.
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
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "platform/Clock.h"
#include "support/WideText.h"

namespace {

typedef std::function<size_t()> Operation;  // returns the rows seen

// Bytes read, kept so that no read is optimised away.
volatile size_t g_sink = 0;

double MedianMicros(const Operation& op, int runs, size_t* rows) {
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(runs));
  for (int i = 0; i < runs; ++i) {
    auto begin = std::chrono::steady_clock::now();
    *rows = op();
    auto end = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// A statement prepared once; each run binds, steps every row reading all
// columns as text, and resets.
class Prepared {
 public:
  Prepared(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "prepare failed: %s\n%s\n", sqlite3_errmsg(db), sql.c_str());
      std::exit(1);
    }
  }
  ~Prepared() { sqlite3_finalize(stmt_); }
  struct Arg {
    Arg(const std::string& text) : text(text) {}  // NOLINT: implicit on purpose
    Arg(const char* text) : text(text) {}         // NOLINT
    Arg(int64_t number) : isNumber(true), number(number) {}  // NOLINT
    bool isNumber = false;
    int64_t number = 0;
    std::string text;
  };
  size_t Run(const std::vector<Arg>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      if (args[i].isNumber) {
        sqlite3_bind_int64(stmt_, at, args[i].number);
      } else {
        sqlite3_bind_text(stmt_, at, args[i].text.c_str(), -1, SQLITE_TRANSIENT);
      }
    }
    size_t rows = 0;
    size_t bytes = 0;
    while (sqlite3_step(stmt_) == SQLITE_ROW) {
      ++rows;
      for (int c = 0; c < sqlite3_column_count(stmt_); ++c) {
        const unsigned char* text = sqlite3_column_text(stmt_, c);
        if (text != nullptr) bytes += std::strlen(reinterpret_cast<const char*>(text));
      }
    }
    sqlite3_reset(stmt_);
    g_sink = g_sink + bytes;
    return rows;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Reads the first row of a RunQuery result, as the timer does.
size_t ReadFirst(SQLite& query) {
  Schedule row;
  if (query.GetRowCount() > 0) row.FillFromRow(query);
  g_sink = g_sink + row.m_filePath.size();
  return static_cast<size_t>(query.GetRowCount());
}

// Reads every row of a RunQuery result by name, as the conflict check does.
size_t WalkAll(SQLite& query) {
  size_t bytes = 0;
  for (int32_t i = 0; i < query.GetRowCount(); ++i) {
    Schedule row;
    row.FillFromRow(query);
    bytes += row.m_filePath.size();
    query.Next();
  }
  g_sink = g_sink + bytes;
  return static_cast<size_t>(query.GetRowCount());
}

const char* const kColumns =
    "ID, User, Type, Status, ChannelName, ChannelMimetype, Channel, Owner, StartTime, EndTime, "
    "Duration, Name, Category, EpisodeTitle, EpisodeUrl, Description, FilePath, Quality, Tuner, "
    "Subtitle, KeepUntil, PlayPosition, StartPadding, EndPadding, TevMediumId";

std::wstring PathOf(int i) { return tev::WFormat(L"/srv/tev/Recorded TV/Show %05d.wmv", i); }

}  // namespace

int main(int argc, char** argv) {
  int rowsWanted = 10000;
  int runs = 101;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0) rowsWanted = std::max(100, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  setenv("TZ", "UTC", 1);
  tzset();

  char pattern[] = "/tmp/tev-db-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string folder = std::string(pattern) + "/TevPVR";
  if (!SQLite::Initialize(tev::FromStdUtf8(folder))) return 1;

  // The table: a year of history around now, most rows finished, one in
  // ten still to come, a few recording, conflicting or skipped.
  const int64_t now = tev::Clock::Now() / 60 * 60;
  const int64_t first = now - 300LL * 86400;
  {
    SQLite batch;
    batch.Begin(L"bench");
    for (int i = 0; i < rowsWanted; ++i) {
      Schedule s;
      s.m_user = L"bench";
      s.m_type = L"Automatic";
      const int kind = i % 100;
      s.m_startTime = first + static_cast<int64_t>(i) * (365LL * 86400 / rowsWanted);
      s.m_duration = 1800 + (i % 4) * 900;
      s.m_endTime = s.m_startTime + s.m_duration;
      if (s.m_startTime > now) {
        s.m_status = kind < 90 ? DVRSTATE_SCHEDULED : (kind < 95 ? DVRSTATE_CONFLICT : DVRSTATE_SKIP);
      } else {
        s.m_status = kind < 2 ? DVRSTATE_RECORDING : (kind < 10 ? DVRSTATE_MISSED : DVRSTATE_COMPLETE);
      }
      s.m_channelName = tev::WFormat(L"Channel %d", i % 12);
      s.m_channelMimetype = (i % 10 == 0) ? L"video/x-webwin" : L"video/x-tv";
      s.m_channel = tev::WFormat(L"channel-medium-%d", i % 12);
      s.m_name = tev::WFormat(L"Show %d", i % 500);
      s.m_category = L"Series";
      s.m_description = L"An episode of a show that runs every week at the same time.";
      s.m_filePath = PathOf(i);
      s.m_quality = L"high";
      s.m_keepUntil = UNTIL_SPACE_NEEDED;
      s.Insert();
    }
    batch.Commit(L"bench");
  }

  sqlite3* raw = nullptr;
  if (sqlite3_open((folder + "/TevPVR.db").c_str(), &raw) != SQLITE_OK) return 1;

  const std::string cutOff = tev::ToStdUtf8(FormatTime3(now - 120));
  const int64_t cutOffNumber = std::stoll(cutOff);
  const int64_t programStart = now + 7 * 86400;
  const std::string s = tev::ToStdUtf8(FormatTime3(programStart));
  const std::string e = tev::ToStdUtf8(FormatTime3(programStart + 3600));

  struct Row {
    const char* name;
    double runQuery;
    double prepared;
    size_t rows;
  };
  std::vector<Row> results;
  size_t rowsA = 0;
  size_t rowsB = 0;

  // 1. Populate by file name.
  {
    int n = 0;
    Operation text = [&] {
      Schedule row(PathOf((n++ * 7919) % rowsWanted), DVRSTATE_COMPLETE);
      return static_cast<size_t>(row.m_id > 0 ? 1 : 0);
    };
    Prepared stmt(raw, std::string("SELECT ") + kColumns + " FROM Schedules WHERE FilePath = ?");
    int m = 0;
    Operation prepared = [&] {
      return stmt.Run({tev::ToStdUtf8(PathOf((m++ * 7919) % rowsWanted))});
    };
    double a = MedianMicros(text, runs, &rowsA);
    double b = MedianMicros(prepared, runs, &rowsB);
    results.push_back({"Populate by file name", a, b, rowsA});
  }

  // 2. Timer: start query.
  {
    const std::wstring sql =
        tev::WFormat(L"SELECT * FROM Schedules WHERE Status = '%ls' AND StartTime > %ls ORDER BY StartTime",
                     DVRSTATE_SCHEDULED, tev::FromStdUtf8(cutOff).c_str());
    Operation text = [&] {
      SQLite q;
      q.RunQuery(sql, L"bench");
      return ReadFirst(q);
    };
    Prepared stmt(raw, std::string("SELECT ") + kColumns +
                           " FROM Schedules WHERE Status = ? AND StartTime > ? ORDER BY StartTime");
    Operation prepared = [&] { return stmt.Run({"DVRSTATE_SCHEDULED", cutOffNumber}); };
    double a = MedianMicros(text, runs, &rowsA);
    double b = MedianMicros(prepared, runs, &rowsB);
    results.push_back({"Timer start query", a, b, rowsA});
  }

  // 3. Timer: stop query (AND binds first, as written).
  {
    const std::wstring sql = tev::WFormat(
        L"SELECT * FROM Schedules WHERE Status = '%ls' OR Status = '%ls'  AND EndTime > %ls ORDER BY EndTime",
        DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, tev::FromStdUtf8(cutOff).c_str());
    Operation text = [&] {
      SQLite q;
      q.RunQuery(sql, L"bench");
      return ReadFirst(q);
    };
    Prepared stmt(raw, std::string("SELECT ") + kColumns +
                           " FROM Schedules WHERE Status = ? OR Status = ?  AND EndTime > ? ORDER BY EndTime");
    Operation prepared = [&] {
      return stmt.Run({"DVRSTATE_SCHEDULED", "DVRSTATE_RECORDING", cutOffNumber});
    };
    double a = MedianMicros(text, runs, &rowsA);
    double b = MedianMicros(prepared, runs, &rowsB);
    results.push_back({"Timer stop query", a, b, rowsA});
  }

  // 4. Conflict check: overlap selection for a one-hour programme.
  {
    const std::wstring ws = tev::FromStdUtf8(s);
    const std::wstring we = tev::FromStdUtf8(e);
    const std::wstring sql = tev::WFormat(
        L"SELECT * FROM Schedules WHERE ((StartTime >= %ls AND StartTime < %ls) OR  (EndTime > %ls AND "
        L"EndTime <= %ls) OR  (StartTime <= %ls AND EndTime > %ls)) AND (Status = '%ls' OR Status = '%ls') "
        L"AND (ChannelMimetype = '%ls') AND (ID != %d)",
        ws.c_str(), we.c_str(), ws.c_str(), we.c_str(), ws.c_str(), we.c_str(), DVRSTATE_RECORDING,
        DVRSTATE_SCHEDULED, L"video/x-tv", 0);
    Operation text = [&] {
      SQLite q;
      q.RunQuery(sql, L"bench");
      return WalkAll(q);
    };
    Prepared stmt(raw, std::string("SELECT ") + kColumns +
                           " FROM Schedules WHERE ((StartTime >= ?1 AND StartTime < ?2) OR  (EndTime > ?1 AND "
                           "EndTime <= ?2) OR  (StartTime <= ?1 AND EndTime > ?2)) AND (Status = ?3 OR Status = ?4) "
                           "AND (ChannelMimetype = ?5) AND (ID != 0)");
    Operation prepared = [&] {
      return stmt.Run({std::stoll(s), std::stoll(e), "DVRSTATE_RECORDING", "DVRSTATE_SCHEDULED", "video/x-tv"});
    };
    double a = MedianMicros(text, runs, &rowsA);
    double b = MedianMicros(prepared, runs, &rowsB);
    if (rowsA != rowsB) std::fprintf(stderr, "overlap rows differ: %zu vs %zu\n", rowsA, rowsB);
    results.push_back({"Overlap selection", a, b, rowsA});
  }

  std::printf("db_queries: %d schedule rows, %d runs each, median microseconds\n", rowsWanted, runs);
  std::printf("%-24s %8s %12s %12s %8s\n", "statement", "rows", "RunQuery", "prepared", "ratio");
  for (const Row& r : results) {
    std::printf("%-24s %8zu %12.1f %12.1f %8.2f\n", r.name, r.rows, r.runQuery, r.prepared,
                r.prepared > 0 ? r.runQuery / r.prepared : 0.0);
  }

  sqlite3_close_v2(raw);
  SQLite::Close();
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
  return 0;
}
