// Reading a selection of the Schedules table a page at a time, so that a
// pass over a table of many thousands of rows never holds them all in
// memory at once.
#ifndef TEV_MONITOR_SCHEDULEPAGES_H_
#define TEV_MONITOR_SCHEDULEPAGES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/SQLite.h"

namespace monitorpages {

// Runs "SELECT <columns> FROM Schedules WHERE (<condition>)" in ID order,
// `pageSize` rows per statement, with `values` bound to the condition's
// placeholders; `columns` must hold ID. `visit` gets the
// query at each row in turn and returns false to stop. False when a
// statement failed (logged under `caller`); the rows before it were
// visited.
bool ForEachRow(const char* columns, const char* condition, const std::vector<SqlValue>& values,
                int32_t pageSize, const wchar_t* caller,
                const std::function<bool(SQLite& row)>& visit);

}  // namespace monitorpages

#endif  // TEV_MONITOR_SCHEDULEPAGES_H_
