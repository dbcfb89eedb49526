// The medium-id store of schedules.
#include "db/SQLite.h"
#include "engine/LibrarySync.h"
#include "support/Log.h"

namespace {

void RunAssign(const char* statement, const std::vector<SqlValue>& values) {
  SQLite query;
  if (!query.RunQuery(statement, values, L"UpdateMedium")) {
    LogError(L"Schedules::AssignTevMediumId: SQL error for %ls", query.FailedStatement().c_str());
  }
}

}  // namespace

void LibrarySync::AssignTevMediumId(int scheduleId, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE ID = ?", {mediumId, scheduleId});
}

void LibrarySync::AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE FilePath = ?", {mediumId, filePath});
}

std::wstring LibrarySync::GetMediumId(int32_t scheduleId) {
  SQLite query;
  if (query.RunQuery("SELECT * from Schedules WHERE ID = ?", {scheduleId}, L"GetMediumId") &&
      query.GetRowCount() == 1) {
    return query.GetString("TevMediumId");
  }
  return std::wstring();
}
