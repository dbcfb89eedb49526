// Housekeeping of the Schedules table over time: rows left recording by a
// crash, expired skipped and conflicting rows, and shutdown. What a restart
// does to the previous run's rows is engine/Resume.cpp.
//
//   RECORDING, ended over a minute ago (running) --> COMPLETE
//   RECORDING, left by the previous process with
//             no stream of this run              --> COMPLETE_PARTIAL
//   RECORDING at shutdown                        --> COMPLETE_PARTIAL/RETRY
//                                                    (the stream goes on)
//   SKIP, CONFLICT whose end has passed          --> deleted
#include <string>
#include <utility>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/EngineHousekeeping.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "support/Log.h"

namespace {

// How long after its end a row may stay recording while the module runs.
constexpr int64_t kOrphanGrace = 60;

const char kRecordingRows[] = "SELECT * FROM Schedules WHERE Status = ?";

}  // namespace

void EngineHousekeeping::NotePreviousRun() {
  SQLite query;
  if (query.RunQuery("SELECT MAX(ID) AS LastId FROM Schedules", L"Schedules::NotePreviousRun") &&
      query.GetRowCount() > 0) {
    m_previousRunLastId = query.GetInt("LastId");
    LogDebug(L"Rows up to R%d are the previous run's", m_previousRunLastId.load());
  }
}

const char* EngineHousekeeping::PreviousRunCondition() {
  // "+ID": a filter only. As a rowid range it would walk every old row
  // instead of the few the time or status index finds.
  return " AND +ID <= ?";
}

void EngineHousekeeping::RemoveOldSchedules(int64_t now) {
  SQLite query;
  if (!query.RunQuery("SELECT * from Schedules WHERE (Status = ? OR Status = ?)AND EndTime < ?",
                      {DVRSTATE_SKIP, DVRSTATE_CONFLICT, FormatTime3(now)},
                      L"Schedules::RemoveOldSchedules")) {
    return;
  }
  // Runs after every timer computation: the deletions make one commit.
  Transaction group(m_engineLock, L"Schedules::RemoveOldSchedules");
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    Schedule::Delete(id);
    LogDebug(L"Removing old schedule %ls (R%d)", query.GetString("Name").c_str(), id);
  }
  group.Commit();
}

void EngineHousekeeping::PruneOrphanedRecordings(int64_t now) {
  const std::wstring cutoff = FormatTime3(now - kOrphanGrace);
  SQLite query;
  if (!query.RunQuery("SELECT * from Schedules WHERE Status = ? AND EndTime < ?",
                      {DVRSTATE_RECORDING, cutoff}, L"Schedules::PruneOrphanedRecordings")) {
    return;
  }
  std::vector<Schedule> orphans = Schedule::FromRows(query);
  // A failed statement is logged; the next prune takes the rows again.
  static_cast<void>(
      SetScheduleStatuses(Library(), orphans, DVRSTATE_COMPLETE, now, StatusReason::kOrphan));
}

void EngineHousekeeping::ChangeRecordingToCompletePartial(int64_t now) {
  if (!m_orphanCleanupPending.exchange(false)) return;
  m_engine.Intake().ChangePastScheduledToMissed(now);
  SQLite query;
  // Only rows of the previous run are orphans, and of those only the ones
  // whose stream this run has not adopted.
  if (!query.RunQuery(std::string(kRecordingRows) + PreviousRunCondition(),
                      {DVRSTATE_RECORDING, PreviousRunLast()},
                      L"Schedules::ChangeRecordingToCompletePartial")) {
    return;
  }
  std::vector<Schedule> orphans;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    const std::wstring path = query.GetString("FilePath");
    // Recordings started by this process (those resumed at start-up among
    // them) are no orphans.
    if (m_engine.Intake().IsBeingRecorded(path)) continue;
    LogWarn(L"ChangeRecordingToCompletePartial found orphan: %d %ls", id, path.c_str());
    if (!m_dvr.DoesThumbnailExist(path)) m_dvr.CreateThumbnail(path);
    Schedule schedule(id);
    if (schedule.m_id != 0) orphans.push_back(std::move(schedule));
  }
  // A failed statement is logged; the rows stay recording for the next run.
  static_cast<void>(SetScheduleStatuses(Library(), orphans, DVRSTATE_COMPLETE_PARTIAL, now,
                                        StatusReason::kCrashRecovery));
}

void EngineHousekeeping::StopAllRecordings(int64_t now) {
  SQLite query;
  if (!query.RunQuery(kRecordingRows, {DVRSTATE_RECORDING}, L"Schedules::StopAllRecordings")) {
    return;
  }
  LogDebug(L"StopAllRecordings %d to stop", query.GetRowCount());
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    Schedule schedule;
    schedule.FillFromRow(query);
    const int64_t elapsed = now - schedule.m_startTime;
    if (elapsed < 0) {
      LogDebug(L"StopAllRecordings: duration was negative");
      continue;
    }
    const wchar_t* closed = DVRSTATE_RETRY;
    if (schedule.m_episodeUrl.empty()) {
      closed = DVRSTATE_COMPLETE_PARTIAL;
      schedule.m_duration = static_cast<int32_t>(elapsed);
    }
    // A failed write is logged; the next start-up closes the row.
    static_cast<void>(SetScheduleStatus(Library(), schedule, closed, now, StatusReason::kShutdown));
  }
}

LibrarySync& EngineHousekeeping::Library() const { return m_engine.Library(); }
