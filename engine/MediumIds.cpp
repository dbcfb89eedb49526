// The medium-id store of schedules.
#include "outbound/PeerClient.h"
#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

void RunAssign(const char* statement, const std::vector<SqlValue>& values) {
  SQLite query;
  if (!query.RunQuery(statement, values, L"UpdateMedium")) {
    LogError(L"Schedules::AssignTevMediumId: SQL error for %ls", query.FailedStatement().c_str());
  }
}

}  // namespace

void Schedules::AssignTevMediumId(int scheduleId, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE ID = ?", {mediumId, scheduleId});
}

void Schedules::AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE FilePath = ?", {mediumId, filePath});
}

// One table for the whole module: the schedule record's.
std::wstring Schedules::MediaTypeForMimetype(const std::wstring& mimetype) {
  return Schedule::MediaTypeForMimetype(mimetype);
}

std::wstring Schedules::GetMediumId(int32_t scheduleId) {
  SQLite query;
  if (query.RunQuery("SELECT * from Schedules WHERE ID = ?", {scheduleId}, L"GetMediumId") &&
      query.GetRowCount() == 1) {
    return query.GetString("TevMediumId");
  }
  return std::wstring();
}
