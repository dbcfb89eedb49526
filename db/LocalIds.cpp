#include "db/LocalIds.h"

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "support/Log.h"

namespace LocalIds {

namespace {

const wchar_t kPassSearch[] = L"SELECT * from SeasonPasses WHERE %ls='%ls'";
const wchar_t kScheduleSearch[] = L"SELECT * from Schedules WHERE %ls='%ls'";

// The search of both id lookups: passes first (when `withPasses`), then
// schedules, by `column`. The messages are printf formats taking the
// statement or the value.
int32_t FindLocalId(const wchar_t* column, const std::wstring& value, const wchar_t* label,
                    const wchar_t* failedFormat, const wchar_t* notFoundFormat, bool log,
                    bool withPasses) {
  const std::wstring escaped = SQLite::Escape(value);
  for (const wchar_t* format : {kPassSearch, kScheduleSearch}) {
    if (format == kPassSearch && !withPasses) continue;
    SQLite query;
    std::wstring statement = tev::WFormat(format, column, escaped.c_str());
    if (!query.RunQuery(statement, label)) {
      if (log) LogError(failedFormat, statement.c_str());
      return 0;
    }
    if (query.GetRowCount() > 0) return query.GetInt("ID");
  }
  if (log) LogError(notFoundFormat, value.c_str());
  return 0;
}

std::wstring MediumIdOf(const wchar_t* format, int32_t localId) {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(format, L"ID", localId), L"GetLocalIdFromTevMediumId") ||
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
  return FindLocalId(L"TevMediumId", mediumId, L"GetLocalIdFromTevMediumId",
                     L"GetLocalIdFromTevMediumId failed: %ls",
                     L"GetLocalIdFromTevMediumId could not find id for tevMediumId: %ls",
                     logFailures, true);
}

int32_t GetType(const std::wstring& mediumId) {
  if (mediumId.size() < 2) return kTypeUnknown;
  const std::wstring escaped = SQLite::Escape(mediumId);
  SQLite passes;
  if (!passes.RunQuery(tev::WFormat(L"SELECT * from SeasonPasses WHERE %ls='%ls'", L"TevMediumId",
                                    escaped.c_str()),
                       L"GetType")) {
    return kTypeUnknown;
  }
  if (passes.GetRowCount() > 0) return kTypePass;
  SQLite schedules;
  if (!schedules.RunQuery(tev::WFormat(L"SELECT * from Schedules WHERE %ls='%ls'", L"TevMediumId",
                                       escaped.c_str()),
                          L"GetType")) {
    return kTypeUnknown;
  }
  return schedules.GetRowCount() > 0 ? kTypeSchedule : kTypeNeither;
}

std::wstring GetScheduleMediumId(int32_t localId) {
  return MediumIdOf(L"SELECT * from Schedules WHERE %ls=%d", localId);
}

std::wstring GetPassMediumId(int32_t localId) {
  return MediumIdOf(L"SELECT * from SeasonPasses WHERE %ls=%d", localId);
}

int32_t GetLocalIdFromPath(const std::wstring& path) {
  // Passes have no FilePath column: asking them would fail every search.
  return FindLocalId(L"FilePath", path, L"GetLocalIdFromPath", L"GetLocalIdFromPath failed: %ls",
                     L"GetLocalIdFromPath could not find id for path: %ls", true, false);
}

std::wstring ScheduleKey(int32_t localId) { return tev::WFormat(L"%lc%d", L'R', localId); }

std::wstring ThumbnailKey(int32_t localId) {
  return tev::WFormat(L"%lc%lc%d", L'R', L'T', localId);
}

std::wstring PassKey(int32_t localId) { return tev::WFormat(L"%lc%lc%d", L'R', L'P', localId); }

}  // namespace LocalIds
