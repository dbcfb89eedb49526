// Whether a planned recording file is already taken by another schedule.
#include <string>

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/Log.h"

bool Schedules::HasDuplicate(const std::wstring& filePath, int scheduleId) {
  const std::wstring statement =
      tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls' AND %ls!=%d", L"FilePath",
                   SQLite::Escape(filePath).c_str(), L"ID", scheduleId);
  SQLite query;
  if (!query.RunQuery(statement, L"HasDuplicate")) {
    LogError(L"HasDuplicate SQL failed %ls", statement.c_str());
    return false;
  }
  if (query.GetRowCount() > 0) {
    LogDebug(L"duplicate filename %ls found for shecule %d", filePath.c_str(), scheduleId);
    return true;
  }
  return false;
}
