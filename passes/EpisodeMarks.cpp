#include "passes/EpisodeMarks.h"

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "support/Log.h"
#include "vel/VelException.h"

namespace EpisodeMarks {

const wchar_t kAiringStart[] = L"(CASE WHEN StartPadding > 0 THEN StartPadding ELSE StartTime END)";
const wchar_t kNotSkippedByUser[] =
    L"NOT (Status = 'DVRSTATE_SKIP' AND COALESCE(EndPadding, 0) = 1)";

bool RememberAiring(int32_t scheduleId) {
  SQLite update;
  return update.RunQuery(
      tev::WFormat(L"UPDATE Schedules SET %ls = %ls WHERE %ls = %d AND (%ls IS NULL OR %ls <= 0)",
                   L"StartPadding", L"StartTime", L"ID", scheduleId, L"StartPadding",
                   L"StartPadding"),
      L"EpisodeMarks::RememberAiring");
}

bool SetAiring(int32_t scheduleId, int64_t airingStart) {
  try {
    SQLite update;
    return update.RunQuery(tev::WFormat(L"UPDATE Schedules SET %ls = %ls WHERE %ls = %d",
                                        L"StartPadding", FormatTime3(airingStart).c_str(), L"ID",
                                        scheduleId),
                           L"EpisodeMarks::SetAiring");
  } catch (const VelException& e) {  // a time outside the writable range
    LogError(L"EpisodeMarks::SetAiring: %ls", e.getMessage().c_str());
    return false;
  }
}

bool SetSkippedByUser(int32_t scheduleId, bool skipped) {
  return Schedule::Update(scheduleId, L"EndPadding", skipped ? 1 : 0);
}

}  // namespace EpisodeMarks
