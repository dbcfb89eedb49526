#include "monitor/SchedulePages.h"

#include "db/SQLite.h"
#include "db/WFormat.h"

namespace monitorpages {

bool ForEachRow(const std::wstring& columns, const std::wstring& condition, int32_t pageSize,
                const wchar_t* caller, const std::function<bool(SQLite& row)>& visit) {
  int32_t lastId = 0;  // IDs start at 1
  for (;;) {
    SQLite page;
    // Walked by ID alone: the selections are most of the table, and an
    // index on their columns would read all of it for every page.
    const std::wstring statement = tev::WFormat(
        L"SELECT %ls FROM Schedules NOT INDEXED WHERE (%ls) AND ID > %d ORDER BY ID LIMIT %d",
                     columns.c_str(), condition.c_str(), lastId, pageSize);
    if (!page.RunQuery(statement, caller)) return false;
    const int32_t rows = page.GetRowCount();
    for (int32_t i = 0; i < rows; ++i, page.Next()) {
      lastId = page.GetInt("ID");
      if (!visit(page)) return true;
    }
    if (rows < pageSize) return true;
  }
}

}  // namespace monitorpages
