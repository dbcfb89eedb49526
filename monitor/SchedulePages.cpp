#include "monitor/SchedulePages.h"

#include "db/SQLite.h"

namespace monitorpages {

bool ForEachRow(const char* columns, const char* condition, const std::vector<SqlValue>& values,
                int32_t pageSize, const wchar_t* caller,
                const std::function<bool(SQLite& row)>& visit) {
  // Walked by ID alone: the selections are most of the table, and an index
  // on their columns would read all of it for every page.
  const std::string statement = std::string("SELECT ") + columns +
                                " FROM Schedules NOT INDEXED WHERE (" + condition +
                                ") AND ID > ? ORDER BY ID LIMIT ?";
  std::vector<SqlValue> bound = values;
  const size_t lastIdAt = bound.size();
  bound.emplace_back(0);  // IDs start at 1
  bound.emplace_back(pageSize);
  int32_t lastId = 0;
  for (;;) {
    SQLite page;
    bound[lastIdAt] = SqlValue(lastId);
    if (!page.RunQuery(statement, bound, caller)) return false;
    const int32_t rows = page.GetRowCount();
    for (int32_t i = 0; i < rows; ++i, page.Next()) {
      lastId = page.GetInt("ID");
      if (!visit(page)) return true;
    }
    if (rows < pageSize) return true;
  }
}

}  // namespace monitorpages
