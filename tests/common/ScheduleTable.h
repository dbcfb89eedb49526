// A Schedules table as years of use leave it, for the query-plan test and the
// benchmarks; rows go in oldest first, as a real table grows.
#ifndef TEV_TESTS_COMMON_SCHEDULETABLE_H_
#define TEV_TESTS_COMMON_SCHEDULETABLE_H_

#include <cstdint>
#include <string>

struct sqlite3;

namespace tev {
namespace test {

struct TableShape {
  int rows = 10000;
  // Rows still to come (a few skipped or conflicting); the others are finished.
  double upcomingShare = 0.10;
  // Finished rows end within `historyDays` before now, upcoming ones start
  // between `upcomingFromHours` and `upcomingDays` after.
  int historyDays = 5 * 365;
  int upcomingFromHours = 1;
  int upcomingDays = 365;
  std::string folder = "/srv/tev/Recorded TV";
  // An empty file for each completed row, for a folder monitor to find.
  bool createFiles = false;
};

// Inserts the rows in one transaction, times counted from `now`; false with
// the database's message in *error when a statement fails.
bool FillSchedules(sqlite3* db, const TableShape& shape, int64_t now, std::string* error);

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_SCHEDULETABLE_H_
