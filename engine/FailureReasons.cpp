#include "engine/FailureReasons.h"

#include <string>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "platform/WideText.h"

namespace {

// Both side tables hold one reason per schedule; `table` is one of their
// fixed names, never a value.
void SetIn(const char* table, int32_t scheduleId, const std::wstring& reason) {
  SQLite query;
  query.RunQuery(std::string("INSERT OR REPLACE INTO ") + table +
                     " (ScheduleId, Reason) VALUES (?, ?)",
                 {scheduleId, reason}, tev::Utf8ToWide(table).c_str());
}

void ClearIn(const char* table, int32_t scheduleId) {
  SQLite query;
  query.RunQuery(std::string("DELETE FROM ") + table + " WHERE ScheduleId = ?", {scheduleId},
                 tev::Utf8ToWide(table).c_str());
}

std::wstring GetIn(const char* table, int32_t scheduleId) {
  SQLite query;
  if (!query.RunQuery(std::string("SELECT Reason FROM ") + table + " WHERE ScheduleId = ?",
                      {scheduleId}, tev::Utf8ToWide(table).c_str()) ||
      query.GetRowCount() == 0) {
    return std::wstring();
  }
  return query.GetString("Reason");
}

}  // namespace

void FailureReasons::Set(int32_t scheduleId, const std::wstring& reason) {
  SetIn("FailureReasons", scheduleId, reason);
}

void FailureReasons::Clear(int32_t scheduleId) { ClearIn("FailureReasons", scheduleId); }

std::wstring FailureReasons::Get(int32_t scheduleId) { return GetIn("FailureReasons", scheduleId); }

void ConflictReasons::Set(int32_t scheduleId, const std::wstring& reason) {
  SetIn("ConflictReasons", scheduleId, reason);
}

void ConflictReasons::Clear(int32_t scheduleId) { ClearIn("ConflictReasons", scheduleId); }

std::wstring ConflictReasons::Get(int32_t scheduleId) {
  return GetIn("ConflictReasons", scheduleId);
}

bool FailureReasons::IsFailedState(const std::wstring& status) {
  return status == DVRSTATE_ERROR || status == DVRSTATE_DISK_FULL ||
         status == DVRSTATE_COULD_NOT_CONNECT || status == DVRSTATE_TUNER_BUSY ||
         status == DVRSTATE_MCE_RUNNING;
}

std::wstring FailureReasons::WithStreamerMessage(const std::wstring& reason,
                                                 const std::wstring& streamerMessage) {
  return streamerMessage.empty() ? reason
                                 : reason + L" (the streamer said: " + streamerMessage + L")";
}
