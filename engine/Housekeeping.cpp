// Housekeeping of the Schedules table across restarts and over time: rows
// left recording by a crash or a stop, recordings to resume after a
// restart, expired skipped and conflicting rows, and shutdown.
//
//   RECORDING (window contains now at start-up) --> COMPLETE_PARTIAL or
//             RETRY, and a new RECORDING row for the rest of the window
//   RECORDING, ended over a minute ago (running) --> COMPLETE
//   RECORDING, left by the previous process      --> COMPLETE_PARTIAL
//   RECORDING at shutdown                        --> COMPLETE_PARTIAL/RETRY
//   SKIP, CONFLICT whose end has passed          --> deleted
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "platform/Clock.h"
#include "support/Log.h"

namespace {

// How long after its end a row may stay recording while the module runs.
constexpr int64_t kOrphanGrace = 60;

std::wstring RecordingRowsStatement() {
  return tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls'", L"Status",
                      DVRSTATE_RECORDING);
}

}  // namespace

void Schedules::ResumeRecordings() {
  const int64_t now = tev::Clock::Now();
  const std::wstring nowText = FormatTime3(now);
  const std::wstring statement =
      tev::WFormat(L"SELECT * from Schedules WHERE (%ls > %ls) AND (%ls < %ls)", L"EndTime",
                   nowText.c_str(), L"StartTime", nowText.c_str());
  LogDebug(L"ResumeRecordings query: %ls", statement.c_str());
  SQLite query;
  const bool ok = query.RunQuery(statement, L"Schedules::ResumeRecordings");
  const int32_t count = ok ? query.GetRowCount() : 0;
  LogDebug(L"Resume recording %d to resume", count);
  for (int32_t i = 0; i < count; ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    Schedule schedule(id);
    if (schedule.m_id == 0) continue;
    CancelScheduledRecording(id);
    // The copy is closed as the cancel closed the row; its end becomes now
    // so that a later restart does not resume the same window again.
    const wchar_t* closed = DVRSTATE_COMPLETE_PARTIAL;
    const int32_t remaining = static_cast<int32_t>(schedule.m_endTime - now);
    schedule.m_endTime = now;
    LogDebug(L"[Resume recording] duration: %d", remaining);
    LogDebug(L"Resume recording %ls (R%d)", schedule.m_name.c_str(), id);
    if (!schedule.m_episodeUrl.empty()) {
      LogDebug(L"[Resume recording] retry possible for: %d", id);
      closed = DVRSTATE_RETRY;
      Schedule shown = schedule;
      shown.m_status = closed;
      Schedule::AddMedium(shown, false);
    }
    // A failed write is logged; the rest of the window is recorded anyway.
    static_cast<void>(SetScheduleStatus(schedule, closed, now, StatusReason::kResume));
    RecordingRequest rest = RecordingRequest::Of(schedule);
    rest.start = now;
    rest.duration = remaining;
    rest.recordNow = 1;
    Add(rest, nullptr);
  }

  SQLite old;
  if (!old.RunQuery(tev::WFormat(L"SELECT * from Schedules WHERE %ls = '%ls' AND %ls < %ls",
                                 L"Status", DVRSTATE_RECORDING, L"EndTime", nowText.c_str()),
                    L"Schedules::ResumeRecordings")) {
    return;
  }
  Transaction group(L"Schedules::ResumeRecordings");
  for (int32_t i = 0; i < old.GetRowCount(); ++i, old.Next()) {
    const int32_t id = old.GetInt("ID");
    LogDebug(L"Delete old recording %ls (R%d)", old.GetString("Name").c_str(), id);
    Schedule::Delete(id);
  }
  group.Commit();
}

void Schedules::RemoveOldSchedules() {
  const std::wstring statement = tev::WFormat(
      L"SELECT * from Schedules WHERE (%ls = '%ls' OR %ls = '%ls')AND %ls < %ls", L"Status",
      DVRSTATE_SKIP, L"Status", DVRSTATE_CONFLICT, L"EndTime",
      FormatTime3(tev::Clock::Now()).c_str());
  SQLite query;
  if (!query.RunQuery(statement, L"Schedules::RemoveOldSchedules")) return;
  // Runs after every timer computation: the deletions make one commit.
  Transaction group(L"Schedules::RemoveOldSchedules");
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    Schedule::Delete(id);
    LogDebug(L"Removing old schedule %ls (R%d)", query.GetString("Name").c_str(), id);
  }
  group.Commit();
}

void Schedules::PruneOrphanedRecordings() {
  const int64_t now = tev::Clock::Now();
  const std::wstring cutoff = FormatTime3(now - kOrphanGrace);
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT * from Schedules WHERE %ls = '%ls' AND %ls < %ls",
                                   L"Status", DVRSTATE_RECORDING, L"EndTime", cutoff.c_str()),
                      L"Schedules::PruneOrphanedRecordings")) {
    return;
  }
  std::vector<Schedule> orphans = Schedule::FromRows(query);
  // A failed statement is logged; the next prune takes the rows again.
  static_cast<void>(SetScheduleStatuses(
      orphans, DVRSTATE_COMPLETE, now, StatusReason::kOrphan,
      tev::WFormat(L"UPDATE schedules SET %ls = '%ls' WHERE %ls = '%ls' AND %ls < %ls", L"Status",
                   DVRSTATE_COMPLETE, L"Status", DVRSTATE_RECORDING, L"EndTime",
                   cutoff.c_str())));
}

void Schedules::ChangeRecordingToCompletePartial() {
  if (!m_orphanCleanupPending.exchange(false)) return;
  ChangePastScheduledToMissed();
  SQLite query;
  if (!query.RunQuery(RecordingRowsStatement(), L"Schedules::ChangeRecordingToCompletePartial")) {
    return;
  }
  std::vector<Schedule> orphans;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    const std::wstring path = query.GetString("FilePath");
    // Recordings started by this process (those resumed at start-up among
    // them) are no orphans.
    if (IsPendingFile(path) || DVR::GetStreamId(path) != 0) continue;
    LogWarn(L"ChangeRecordingToCompletePartial found orphan: %d %ls", id, path.c_str());
    if (!DVR::DoesThumbnailExist(path)) DVR::CreateThumbnail(path);
    Schedule schedule(id);
    if (schedule.m_id != 0) orphans.push_back(std::move(schedule));
  }
  // A failed statement is logged; the rows stay recording for the next run.
  static_cast<void>(SetScheduleStatuses(
      orphans, DVRSTATE_COMPLETE_PARTIAL, tev::Clock::Now(), StatusReason::kCrashRecovery,
      tev::WFormat(L"UPDATE Schedules SET %ls = '%ls', %ls = -1 WHERE %ls = '%ls'", L"Status",
                   DVRSTATE_COMPLETE_PARTIAL, L"Duration", L"Status", DVRSTATE_RECORDING)));
}

void Schedules::StopAllRecordings() {
  SQLite query;
  if (!query.RunQuery(RecordingRowsStatement(), L"Schedules::StopAllRecordings")) return;
  LogDebug(L"StopAllRecordings %d to stop", query.GetRowCount());
  const int64_t now = tev::Clock::Now();
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
    static_cast<void>(SetScheduleStatus(schedule, closed, now, StatusReason::kShutdown));
  }
}
