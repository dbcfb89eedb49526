// The recorder's reports about a recording: started, failed, finished, and
// its request for a thumbnail. Each names the recording by its file path,
// the key the streamer knows. Reports arrive on bus threads; nothing here
// takes the engine lock.
//
//   RECORDING --finished, long enough--------------------> COMPLETE
//   RECORDING --finished short by > 1/10 and > 20 s-------> COMPLETE_PARTIAL
//   RECORDING --finished under 20 s, or failed report-----> ERROR
#include <atomic>
#include <chrono>
#include <cwchar>
#include <string>
#include <thread>

#include "bus/CVelAtl.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "module/PVRVel.h"
#include "monitor/ThumbnailTable.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "support/Log.h"

namespace {

// Real time the recorder needs before a thumbnail can be cut from a new file.
constexpr unsigned int kThumbnailDelayMs = 10000;
// Recordings shorter than this failed, unless they never started for a
// reason already recorded in the row.
constexpr int32_t kShortestRecording = 20;
// A recording may fall short of its expected length by this much (and by a
// tenth) and still count as complete.
constexpr int32_t kAllowedShortfall = 20;

bool IsVideo(const std::wstring& mimetype) { return mimetype.compare(0, 5, L"video") == 0; }

// Waits the thumbnail delay; false when the module is stopping (the stop
// event ends the wait at once then).
bool WaitBeforeThumbnail() {
  tev::Env& env = tev::Env::Current();
  if (PVRVel* pvr = PVRVel::Live()) return !env.WaitForEvent(pvr->StopEvent(), kThumbnailDelayMs);
  env.SleepMs(kThumbnailDelayMs);
  return true;
}

// Statuses of rows that never really recorded, so a short report is no
// failure of the recording itself.
bool NeverStarted(const std::wstring& status) {
  return status == DVRSTATE_COULD_NOT_CONNECT || status == DVRSTATE_TUNER_BUSY ||
         status == DVRSTATE_MCE_RUNNING;
}

}  // namespace

void Schedules::NotifyRecordStarted(const std::wstring& filePath) {
  Schedule schedule(filePath, DVRSTATE_RECORDING);
  if (schedule.m_id == 0) {
    LogError(L"NotifyRecordStarted; not found %ls", filePath.c_str());
    return;
  }
  Schedule::AddMedium(schedule, true);
  if (!IsVideo(schedule.m_channelMimetype)) return;
  if (!WaitBeforeThumbnail()) return;
  // The row may have gone while we waited (cancelled and removed).
  Schedule again(filePath, DVRSTATE_RECORDING);
  if (again.m_id != 0) DVR::CreateThumbnail(filePath);
}

void Schedules::NotifyRecordStartedAsync(const std::wstring& filePath) {
  NotifyRecordStarted(filePath);
}

void Schedules::NotifyRecordFailedAsync(const std::wstring& filePath) {
  // The statement itself changes only a row that is still recording.
  Schedule failed;
  failed.m_filePath = filePath;
  failed.m_status = DVRSTATE_RECORDING;
  if (!SetScheduleStatus(failed, DVRSTATE_ERROR, tev::Clock::Now(),
                         StatusReason::kRecorderFailed)) {
    return;
  }
  if (CVelAtl* vel = TheVel()) vel->NotifyPVRRecordingChange();
  Schedule schedule(filePath, DVRSTATE_ERROR);
  if (schedule.m_id != 0) Schedule::AddMedium(schedule, true);
}

void Schedules::NotifyRecordComplete(int32_t durationSeconds, const std::wstring& filePath) {
  Schedule schedule(filePath, DVRSTATE_RECORDING);
  if (schedule.m_id == 0) schedule.Populate(filePath, DVRSTATE_COMPLETE_PARTIAL);
  if (schedule.m_id == 0) schedule.Populate(filePath, DVRSTATE_COMPLETE);
  if (schedule.m_id == 0) return;

  LogDebug(L"Recording %d complete duration: %d s)", schedule.m_id, durationSeconds);
  const int32_t expected = schedule.m_duration;
  const wchar_t* status = DVRSTATE_COMPLETE;
  if (durationSeconds < kShortestRecording && !NeverStarted(schedule.m_status)) {
    status = DVRSTATE_ERROR;
    LogDebug(L"NotifyRecordComplete duration < 20s (%d) episode url: %ls", durationSeconds,
             schedule.m_episodeUrl.c_str());
  } else if (durationSeconds < expected - expected / 10 &&
             expected - durationSeconds > kAllowedShortfall) {
    status = DVRSTATE_COMPLETE_PARTIAL;
    LogDebug(L"Recording Incomplete %d (%d)", durationSeconds, expected);
  }

  schedule.m_duration = durationSeconds;
  if (!SetScheduleStatus(schedule, status, tev::Clock::Now(), StatusReason::kRecorderFinished)) {
    LogError(L"Schedules::NotifyRecordComplete could not write %d %ls", schedule.m_id,
             filePath.c_str());
    return;
  }
  LogDebug(L"Recording complete %ls", filePath.c_str());

  if (CVelAtl* vel = TheVel()) {
    vel->NotifyStopRecording(schedule.m_id, schedule.m_name, schedule.m_channelName);
  }
  schedule.SetFileMetadata();
  if (IsVideo(schedule.m_channelMimetype) && !GetThumbnailEntry(schedule.m_id)) {
    DVR::CreateThumbnail(filePath);
  }
  Schedule::AddMedium(schedule, true);
}

void Schedules::NotifyThumbnailNeeded(const std::wstring& filePath) {
  LogDebug(L"Got NotifyThumbnailNeeded for %ls", filePath.c_str());
  const std::wstring statement = tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls'",
                                              L"FilePath", SQLite::Escape(filePath).c_str());
  SQLite query;
  if (!query.RunQuery(statement, L"Schedules::NotifyThumbnailNeeded")) return;
  if (query.GetRowCount() > 0) {
    DVR::CreateThumbnail(filePath);
  } else {
    LogError(L"NotifyThumbnailNeeded: Could not find database entry for %ls", filePath.c_str());
  }
}
