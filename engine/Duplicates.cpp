// Whether a planned recording file is already taken by another schedule.
#include <string>

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/Log.h"

bool Schedules::HasDuplicate(const std::wstring& filePath, int scheduleId) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE FilePath = ? AND ID!=?", {filePath, scheduleId},
                      L"HasDuplicate")) {
    LogError(L"HasDuplicate SQL failed %ls", query.FailedStatement().c_str());
    return false;
  }
  if (query.GetRowCount() > 0) {
    LogDebug(L"duplicate filename %ls found for shecule %d", filePath.c_str(), scheduleId);
    return true;
  }
  return false;
}
