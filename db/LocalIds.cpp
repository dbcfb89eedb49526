#include "db/LocalIds.h"

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "support/Log.h"

namespace LocalIds {

namespace {

const char* const kByMediumId[2] = {"SELECT * from SeasonPasses WHERE TevMediumId=?",
                                    "SELECT * from Schedules WHERE TevMediumId=?"};
const char* const kByFilePath[2] = {"SELECT * from SeasonPasses WHERE FilePath=?",
                                    "SELECT * from Schedules WHERE FilePath=?"};

// The search of both id lookups: passes first (when `withPasses`), then
// schedules; `searches` are the two statements, by the same column. The
// messages are printf formats taking the statement or the value.
int32_t FindLocalId(const char* const (&searches)[2], const std::wstring& value,
                    const wchar_t* label, const wchar_t* failedFormat,
                    const wchar_t* notFoundFormat, bool log, bool withPasses) {
  for (const char* statement : searches) {
    if (statement == searches[0] && !withPasses) continue;
    SQLite query;
    if (!query.RunQuery(statement, {value}, label)) {
      if (log) LogError(failedFormat, query.FailedStatement().c_str());
      return 0;
    }
    if (query.GetRowCount() > 0) return query.GetInt("ID");
  }
  if (log) LogError(notFoundFormat, value.c_str());
  return 0;
}

std::wstring MediumIdOf(const char* statement, int32_t localId) {
  SQLite query;
  if (!query.RunQuery(statement, {localId}, L"GetLocalIdFromTevMediumId") ||
      query.GetRowCount() < 1) {
    return std::wstring();
  }
  return query.GetString("TevMediumId");
}

}  // namespace

int32_t GetLocalIdFromTevMediumId(const std::wstring& mediumId) {
  return GetLocalIdFromTevMediumId(mediumId, false);
}

int32_t GetLocalIdFromTevMediumId(const std::wstring& mediumId, bool logFailures) {
  return FindLocalId(kByMediumId, mediumId, L"GetLocalIdFromTevMediumId",
                     L"GetLocalIdFromTevMediumId failed: %ls",
                     L"GetLocalIdFromTevMediumId could not find id for tevMediumId: %ls",
                     logFailures, true);
}

int32_t GetType(const std::wstring& mediumId) {
  if (mediumId.size() < 2) return kTypeUnknown;
  SQLite passes;
  if (!passes.RunQuery(kByMediumId[0], {mediumId}, L"GetType")) {
    return kTypeUnknown;
  }
  if (passes.GetRowCount() > 0) return kTypePass;
  SQLite schedules;
  if (!schedules.RunQuery(kByMediumId[1], {mediumId}, L"GetType")) {
    return kTypeUnknown;
  }
  return schedules.GetRowCount() > 0 ? kTypeSchedule : kTypeNeither;
}

std::wstring GetScheduleMediumId(int32_t localId) {
  return MediumIdOf("SELECT * from Schedules WHERE ID=?", localId);
}

std::wstring GetPassMediumId(int32_t localId) {
  return MediumIdOf("SELECT * from SeasonPasses WHERE ID=?", localId);
}

int32_t GetLocalIdFromPath(const std::wstring& path) {
  // Passes have no FilePath column: asking them would fail every search.
  return FindLocalId(kByFilePath, path, L"GetLocalIdFromPath", L"GetLocalIdFromPath failed: %ls",
                     L"GetLocalIdFromPath could not find id for path: %ls", true, false);
}

std::wstring ScheduleKey(int32_t localId) { return tev::WFormat(L"%lc%d", L'R', localId); }

std::wstring ThumbnailKey(int32_t localId) {
  return tev::WFormat(L"%lc%lc%d", L'R', L'T', localId);
}

std::wstring PassKey(int32_t localId) { return tev::WFormat(L"%lc%lc%d", L'R', L'P', localId); }

}  // namespace LocalIds
