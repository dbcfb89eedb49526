// A Schedules table as years of use leave it, for the query-plan test and
// the benchmarks: mostly finished recordings spread over the past, some
// still to come, a few of those skipped or conflicting, one in five made by
// one of twenty season passes (which are stored too). Rows go in oldest
// first, in the order a real table grows.
#ifndef TEV_TESTS_COMMON_SCHEDULETABLE_H_
#define TEV_TESTS_COMMON_SCHEDULETABLE_H_

#include <cstdint>
#include <string>

struct sqlite3;

namespace tev {
namespace test {

struct TableShape {
  int rows = 10000;
  // Rows still to come (scheduled; about one in fifty of them skipped or
  // conflicting); the others are finished.
  double upcomingShare = 0.10;
  // Finished rows end within this many days before now; upcoming rows
  // start between `upcomingFromHours` and `upcomingDays` days after now.
  int historyDays = 5 * 365;
  int upcomingFromHours = 1;
  int upcomingDays = 365;
  // Folder of the rows' file paths.
  std::string folder = "/srv/tev/Recorded TV";
  // Creates an empty file for each completed row (and the folder), so that a
  // folder monitor finds the recordings where the table says they are.
  bool createFiles = false;
};

// Inserts the rows through `db`, a connection of the test's own, in one
// transaction; times are counted from `now` (seconds since 1970). False
// with the database's message in *error when a statement fails.
bool FillSchedules(sqlite3* db, const TableShape& shape, int64_t now, std::string* error);

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_SCHEDULETABLE_H_
