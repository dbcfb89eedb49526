#include "db/EpisodeMarks.h"

#include <string>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace EpisodeMarks {

const char kAiringStart[] =
    "COALESCE((SELECT AiringStart FROM EpisodeMarks WHERE EpisodeMarks.ScheduleId = Schedules.ID), "
    "StartTime)";
const char kNotSkippedByUser[] =
    "NOT (Status = 'DVRSTATE_SKIP' AND ID IN "
    "(SELECT ScheduleId FROM EpisodeMarks WHERE SkippedByUser = 1))";

bool Prepare(SQLite& query) {
  if (!query.RunQuery("CREATE TABLE IF NOT EXISTS 'EpisodeMarks' ('ScheduleId' integer PRIMARY KEY, "
                      "'AiringStart' integer, 'SkippedByUser' integer)",
                      L"EpisodeMarks::Prepare")) {
    return false;
  }
  // Rows leave Schedules from many places; their marks go here, once a run
  // (and only when there are any: an ordinary start writes nothing).
#define TEV_ORPHAN_MARKS "FROM EpisodeMarks WHERE ScheduleId NOT IN (SELECT ID FROM Schedules)"
  SQLite orphans;
  orphans.LimitRows(1);
  if (orphans.RunQuery("SELECT ScheduleId " TEV_ORPHAN_MARKS, L"EpisodeMarks::Prepare") &&
      orphans.GetRowCount() > 0) {
    query.RunQuery("DELETE " TEV_ORPHAN_MARKS, L"EpisodeMarks::Prepare");
  }
#undef TEV_ORPHAN_MARKS
  return true;
}

bool RememberAiring(int32_t scheduleId) {
  SQLite update;
  return update.RunQuery(
      "INSERT INTO EpisodeMarks (ScheduleId, AiringStart) SELECT ID, StartTime FROM "
      "Schedules WHERE ID = ? ON CONFLICT(ScheduleId) DO UPDATE SET AiringStart = "
      "COALESCE(AiringStart, excluded.AiringStart)",
      {scheduleId}, L"EpisodeMarks::RememberAiring");
}

bool SetAiring(int32_t scheduleId, int64_t airingStart) {
  try {
    SQLite update;
    return update.RunQuery(
        "INSERT INTO EpisodeMarks (ScheduleId, AiringStart) VALUES (?, ?) "
        "ON CONFLICT(ScheduleId) DO UPDATE SET AiringStart = excluded.AiringStart",
        {scheduleId, SqlValue::TimeNumber(airingStart)}, L"EpisodeMarks::SetAiring");
  } catch (const VelException& e) {  // a time outside the writable range
    LogError(L"EpisodeMarks::SetAiring: %ls", e.getMessage().c_str());
    return false;
  }
}

bool SetSkippedByUser(int32_t scheduleId, bool skipped) {
  SQLite update;
  return update.RunQuery(
      "INSERT INTO EpisodeMarks (ScheduleId, SkippedByUser) VALUES (?, ?) "
      "ON CONFLICT(ScheduleId) DO UPDATE SET SkippedByUser = excluded.SkippedByUser",
      {scheduleId, skipped ? 1 : 0}, L"EpisodeMarks::SetSkippedByUser");
}

}  // namespace EpisodeMarks
