#include "engine/StatusChange.h"

#include <algorithm>
#include <utility>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "engine/FailureReasons.h"
#include "engine/LibrarySync.h"
#include "support/Log.h"

namespace {

const StatusTransition* Check(const Schedule& row, const std::wstring& to, StatusReason reason) {
  const StatusTransition* t = FindStatusTransition(reason, row.m_status, to);
  if (t == nullptr) {
    LogError(L"Schedule::SetStatus refused %ls for %d: %ls -> %ls", StatusReasonName(reason),
             row.m_id, row.m_status.c_str(), to.c_str());
  }
  return t;
}

void Stamp(Schedule& row, StatusReason reason, int64_t now) {
  switch (reason) {
    case StatusReason::kCancel:
    case StatusReason::kRecorderFinished:
      row.m_endTime = now;
      break;
    case StatusReason::kRetry:
      row.m_startTime = now;
      row.m_endTime = now + row.m_duration;
      break;
    default:
      break;
  }
}

bool Write(const StatusTransition& t, Schedule& row, const std::wstring& to) {
  SQLite query;
  switch (t.write) {
    case StatusWrite::kStatus:
      return query.RunQuery("UPDATE Schedules SET Status = ? WHERE ID = ?", {to, row.m_id},
                            t.caller);
    case StatusWrite::kStatusAndPath:
      return query.RunQuery("UPDATE Schedules SET Status = ?, FilePath = ? WHERE ID = ?",
                            {to, row.m_filePath, row.m_id}, t.caller);
    case StatusWrite::kRow: {
      Transaction both(t.caller);
      return row.Update() &&
             query.RunQuery("UPDATE Schedules SET Status = ? WHERE ID = ?", {to, row.m_id},
                            t.caller) &&
             both.Commit();
    }
    case StatusWrite::kStatusIfRecording:
      return query.RunQuery("UPDATE Schedules SET Status = ? WHERE Status = ? AND FilePath = ?",
                            {to, DVRSTATE_RECORDING, row.m_filePath}, t.caller);
    case StatusWrite::kBulk:
    case StatusWrite::kBulkLengthUnknown:
      break;
  }
  LogError(L"Schedule::SetStatus %ls for %d needs the bulk form", StatusReasonName(t.reason),
           row.m_id);
  return false;
}

}  // namespace

StatusChange SetScheduleStatus(LibrarySync& library, Schedule& row, const std::wstring& to,
                               int64_t now, StatusReason reason) {
  StatusChange result;
  const StatusTransition* t = Check(row, to, reason);
  if (t == nullptr) return result;
  Stamp(row, reason, now);
  if (!Write(*t, row, to)) return result;
  result.written = true;
  result.changed = row.m_status != to;
  // Back in the plan: why it was left out no longer holds.
  if (to == DVRSTATE_SCHEDULED &&
      (row.m_status == DVRSTATE_CONFLICT || row.m_status == DVRSTATE_SKIP)) {
    ConflictReasons::Clear(row.m_id);
  }
  row.m_status = to;
  if (t->publish == StatusPublish::kRow) {
    library.AddMedium(row, true);
  } else if (t->publish == StatusPublish::kReloaded) {
    Schedule reloaded(row.m_id);
    if (reloaded.m_id != 0) library.AddMedium(reloaded, true);
  }
  return result;
}

bool SetScheduleStatuses(LibrarySync& library, std::vector<Schedule>& rows, const std::wstring& to,
                         int64_t now, StatusReason reason,
                         const std::function<void(const std::vector<Schedule>&)>& publish) {
  std::vector<Schedule> kept;
  std::vector<std::wstring> froms;
  const StatusTransition* t = nullptr;
  for (Schedule& row : rows) {
    const StatusTransition* allowed = Check(row, to, reason);
    if (allowed == nullptr) continue;
    if (allowed->write != StatusWrite::kBulk &&
        allowed->write != StatusWrite::kBulkLengthUnknown) {
      LogError(L"Schedule::SetStatus %ls for %d has no bulk form", StatusReasonName(reason),
               row.m_id);
      continue;
    }
    t = allowed;
    if (std::find(froms.begin(), froms.end(), row.m_status) == froms.end()) {
      froms.push_back(row.m_status);
    }
    Stamp(row, reason, now);
    row.m_status = to;
    kept.push_back(std::move(row));
  }
  rows = std::move(kept);
  if (rows.empty()) return true;

  if (t->publish == StatusPublish::kRow) {
    for (const Schedule& row : rows) library.AddMedium(row, true);
  } else if (t->publish == StatusPublish::kCaller && publish) {
    publish(rows);
  }
  std::string statement = t->write == StatusWrite::kBulkLengthUnknown
                              ? "UPDATE Schedules SET Status = ?, Duration = -1 WHERE ID IN "
                              : "UPDATE Schedules SET Status = ? WHERE ID IN ";
  std::vector<SqlValue> values{to};
  std::vector<SqlValue> ids;
  for (const Schedule& row : rows) ids.emplace_back(row.m_id);
  SQLite::AppendInList(&statement, &values, std::move(ids));
  statement += " AND Status IN ";
  SQLite::AppendInList(&statement, &values, std::vector<SqlValue>(froms.begin(), froms.end()));
  SQLite query;
  return query.RunQuery(statement, values, t->caller);
}

void PublishUnstoredStatus(LibrarySync& library, Schedule row, const std::wstring& shown,
                           bool flag) {
  row.m_status = shown;
  library.AddMedium(row, flag);
}
