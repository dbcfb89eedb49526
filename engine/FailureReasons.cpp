#include "engine/FailureReasons.h"

#include "db/SQLite.h"
#include "db/Schedule.h"

namespace {

const wchar_t kCaller[] = L"FailureReasons";

}  // namespace

void FailureReasons::Set(int32_t scheduleId, const std::wstring& reason) {
  SQLite query;
  query.RunQuery("INSERT OR REPLACE INTO FailureReasons (ScheduleId, Reason) VALUES (?, ?)",
                 {scheduleId, reason}, kCaller);
}

void FailureReasons::Clear(int32_t scheduleId) {
  SQLite query;
  query.RunQuery("DELETE FROM FailureReasons WHERE ScheduleId = ?", {scheduleId}, kCaller);
}

std::wstring FailureReasons::Get(int32_t scheduleId) {
  SQLite query;
  if (!query.RunQuery("SELECT Reason FROM FailureReasons WHERE ScheduleId = ?", {scheduleId},
                      kCaller) ||
      query.GetRowCount() == 0) {
    return std::wstring();
  }
  return query.GetString("Reason");
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
