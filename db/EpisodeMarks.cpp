#include "db/EpisodeMarks.h"

#include <string>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace EpisodeMarks {

const wchar_t kAiringStart[] =
    L"COALESCE((SELECT AiringStart FROM EpisodeMarks WHERE EpisodeMarks.ScheduleId = Schedules.ID), "
    L"StartTime)";
const wchar_t kNotSkippedByUser[] =
    L"NOT (Status = 'DVRSTATE_SKIP' AND ID IN "
    L"(SELECT ScheduleId FROM EpisodeMarks WHERE SkippedByUser = 1))";

bool Prepare(SQLite& query) {
  if (!query.RunQuery(L"CREATE TABLE IF NOT EXISTS 'EpisodeMarks' ('ScheduleId' integer PRIMARY KEY, "
                      L"'AiringStart' integer, 'SkippedByUser' integer)",
                      L"EpisodeMarks::Prepare")) {
    return false;
  }
  // Rows leave Schedules from many places; their marks go here, once a run
  // (and only when there are any: an ordinary start writes nothing).
  const wchar_t kOrphans[] = L"FROM EpisodeMarks WHERE ScheduleId NOT IN (SELECT ID FROM Schedules)";
  SQLite orphans;
  orphans.LimitRows(1);
  if (orphans.RunQuery(std::wstring(L"SELECT ScheduleId ") + kOrphans, L"EpisodeMarks::Prepare") &&
      orphans.GetRowCount() > 0) {
    query.RunQuery(std::wstring(L"DELETE ") + kOrphans, L"EpisodeMarks::Prepare");
  }
  return true;
}

bool RememberAiring(int32_t scheduleId) {
  SQLite update;
  return update.RunQuery(
      tev::WFormat(L"INSERT INTO EpisodeMarks (ScheduleId, AiringStart) SELECT ID, StartTime FROM "
                   L"Schedules WHERE ID = %d ON CONFLICT(ScheduleId) DO UPDATE SET AiringStart = "
                   L"COALESCE(AiringStart, excluded.AiringStart)",
                   scheduleId),
      L"EpisodeMarks::RememberAiring");
}

bool SetAiring(int32_t scheduleId, int64_t airingStart) {
  try {
    SQLite update;
    return update.RunQuery(
        tev::WFormat(L"INSERT INTO EpisodeMarks (ScheduleId, AiringStart) VALUES (%d, %ls) "
                     L"ON CONFLICT(ScheduleId) DO UPDATE SET AiringStart = excluded.AiringStart",
                     scheduleId, FormatTime3(airingStart).c_str()),
        L"EpisodeMarks::SetAiring");
  } catch (const VelException& e) {  // a time outside the writable range
    LogError(L"EpisodeMarks::SetAiring: %ls", e.getMessage().c_str());
    return false;
  }
}

bool SetSkippedByUser(int32_t scheduleId, bool skipped) {
  SQLite update;
  return update.RunQuery(
      tev::WFormat(L"INSERT INTO EpisodeMarks (ScheduleId, SkippedByUser) VALUES (%d, %d) "
                   L"ON CONFLICT(ScheduleId) DO UPDATE SET SkippedByUser = excluded.SkippedByUser",
                   scheduleId, skipped ? 1 : 0),
      L"EpisodeMarks::SetSkippedByUser");
}

}  // namespace EpisodeMarks
