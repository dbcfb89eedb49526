// The Schedules table's lookup indexes and the planner statistics that go
// with them. Neither changes what any statement returns; together they let
// every statement the engine runs on a request or a timer wake-up reach its
// rows through an index range, so that its cost follows the rows it wants
// and not the years of finished recordings beside them.
#include <cstring>
#include <set>
#include <string>

#include "db/SQLite.h"
#include "support/Log.h"

namespace {

// Each time index carries the other time as well, so that every branch of
// the overlap selection's OR ("starts inside", "ends inside", "spans") and
// every status-and-time selection is decided inside the index, reading
// only the rows that qualify. The status indexes serve the timer, the
// start and stop decisions and housekeeping, which all ask for one of the
// rare states (scheduled, recording, skipped, conflicting) among mostly
// finished rows; the owner indexes do the same for the overlap selection
// of a season pass's episode, which also takes every row of its pass.
//
// Where two indexes promise the same cost SQLite takes the one made last,
// which decides the "spans" branch of the overlap selection (starts before
// S, ends after E): among scheduled rows, for a programme in the coming
// days, few start before it and nearly all end after it, so the start-first
// status index comes last; among a pass's rows, mostly finished, few end
// after it, so the end-first owner index comes last.
//
// `stat` is the index's fixed line in sqlite_stat1 ("rows, rows per value
// of the first column, of the first two, ..."): it describes a long-used
// table rather than the one at hand, so that plans do not depend on what
// the file holds today. Without it SQLite takes an equality on Status for
// as selective as one on FilePath and may walk every scheduled row to find
// one file. A Status value is claimed to be rare because the engine asks
// only for the rare ones.
struct Index {
  const char* table;
  const char* name;
  const char* columns;
  const char* stat;  // none for the small SeasonPasses table
};
const Index kIndexes[] = {
    {"Schedules", "SchedulesByStartEnd", "StartTime, EndTime", "100000 2 1"},
    {"Schedules", "SchedulesByEndStart", "EndTime, StartTime", "100000 2 1"},
    {"Schedules", "SchedulesByFile", "FilePath", "100000 1"},
    // Every request naming a medium resolves its id here.
    {"Schedules", "SchedulesByMediumId", "TevMediumId", "100000 1"},
    {"SeasonPasses", "SeasonPassesByMediumId", "TevMediumId", nullptr},
    {"Schedules", "SchedulesByStatusEnd", "Status, EndTime, StartTime", "100000 100 2 1"},
    {"Schedules", "SchedulesByStatusStart", "Status, StartTime, EndTime", "100000 100 2 1"},
    {"Schedules", "SchedulesByOwnerStart", "Owner, StartTime, EndTime", "100000 1000 2 1"},
    {"Schedules", "SchedulesByOwnerEnd", "Owner, EndTime, StartTime", "100000 1000 2 1"},
};

int32_t StatCount() {
  int32_t count = 0;
  for (const Index& index : kIndexes) count += index.stat != nullptr ? 1 : 0;
  return count;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Names of the tables and indexes the file has.
std::set<std::wstring> SchemaNames() {
  std::set<std::wstring> names;
  SQLite query;
  if (!query.RunQuery("SELECT name FROM sqlite_schema", L"AddIndexes")) return names;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    names.insert(query.GetString("name"));
  }
  return names;
}

// Whether sqlite_stat1 holds exactly the statistics above for Schedules.
bool StatsCurrent() {
  SQLite query;
  if (!query.RunQuery("SELECT idx, stat FROM sqlite_stat1 WHERE tbl = 'Schedules'",
                      L"AddIndexes") ||
      query.GetRowCount() != StatCount()) {
    return false;
  }
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const std::wstring name = query.GetString("idx");
    bool same = false;
    for (const Index& index : kIndexes) {
      if (index.stat != nullptr && name == Wide(index.name)) {
        same = query.GetString("stat") == Wide(index.stat);
      }
    }
    if (!same) return false;
  }
  return true;
}

}  // namespace

void SQLite::AddIndexes() {
  // Nothing is written when the file already has everything, so that an
  // ordinary start costs no commit. A failure here only costs speed.
  const std::set<std::wstring> names = SchemaNames();
  bool changed = false;
  if (names.count(L"SchedulesByStart") != 0) {
    changed = RunQuery("DROP INDEX IF EXISTS SchedulesByStart", L"AddIndexes") || changed;
  }
  for (const Index& index : kIndexes) {
    if (names.count(Wide(index.name)) != 0) continue;
    changed = RunQuery(std::string("CREATE INDEX IF NOT EXISTS ") + index.name + " ON " +
                           index.table + " (" + index.columns + ")",
                       L"AddIndexes") ||
              changed;
  }
  const bool haveStats = names.count(L"sqlite_stat1") != 0;
  if (!changed && haveStats && StatsCurrent()) return;
  // "ANALYZE sqlite_schema" makes sqlite_stat1 when missing without
  // measuring anything; run again once the rows are written, it makes the
  // connection read them.
  if (!haveStats) RunQuery("ANALYZE sqlite_schema", L"AddIndexes");
  if (!Begin(L"AddIndexes")) return;
  bool written = RunQuery("DELETE FROM sqlite_stat1 WHERE tbl = 'Schedules'", L"AddIndexes");
  for (const Index& index : kIndexes) {
    if (index.stat == nullptr) continue;
    written = written && RunQuery("INSERT INTO sqlite_stat1 VALUES ('Schedules', ?, ?)",
                                  {SqlValue::Utf8(index.name), SqlValue::Utf8(index.stat)},
                                  L"AddIndexes");
  }
  if (!written) {
    RunQuery("rollback", L"AddIndexes");
    LogWarn(L"AddIndexes: planner statistics not written");
    return;
  }
  Commit(L"AddIndexes");
  RunQuery("ANALYZE sqlite_schema", L"AddIndexes");
}
