// The user's cancel and retry of one schedule. Both run on the bus thread
// that carries the request; the start decision of a retry runs under the
// engine lock, as it does on the timer thread.
//
//   RECORDING --cancel--> COMPLETE_PARTIAL (stream stopped, row written)
//   other     --cancel--> published as COMPLETE_PARTIAL; the row is kept
//   any       --retry---> SCHEDULED from now, when it has no file yet;
//                         with a file, the row keeps it and a new SCHEDULED
//                         row records into the counter form of its name
//   RECORDING --retry---> unchanged
#include <string>

#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "engine/RecordingCompletion.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/Log.h"

int RecordingCompletion::CancelScheduledRecording(int32_t scheduleId, int64_t now) {
  Schedule schedule(scheduleId);
  if (schedule.m_id == 0) return 0;
  PeerClient* vel = Peers();
  if (schedule.m_status == DVRSTATE_RECORDING) {
    m_dvr.StopRecording(schedule.m_user, schedule.m_channel, schedule.m_channelMimetype,
                       schedule.m_filePath);
    if (vel != nullptr) {
      NotifyStopped(*vel, schedule);
    }
    // The tuner is free again: waiting rows it blocked may record now.
    if (SetScheduleStatus(Library(), schedule, DVRSTATE_COMPLETE_PARTIAL, now,
                          StatusReason::kCancel)) {
      m_conflicts.UpdateConflicts(schedule.m_id, now);
    }
  } else {
    // What the library makes of a plan shown as partial is its own affair;
    // the row itself stays as it is (a view, not a change of state).
    if (vel != nullptr) {
      NotifyStopped(*vel, schedule);
    }
    PublishUnstoredStatus(Library(), schedule, DVRSTATE_COMPLETE_PARTIAL, true);
  }
  return 0;
}

int RecordingCompletion::RetrySchedule(int32_t scheduleId, int64_t now) {
  Schedule schedule(scheduleId);
  if (schedule.m_id == 0) return 0;  // Populate logged the missing row
  if (schedule.m_status == DVRSTATE_RECORDING) {
    // A second stream would write into the file being recorded.
    LogWarn(L"Schedules::RetrySchedule: %d is recording, nothing to retry", scheduleId);
    return 0;
  }
  if (tev::Env::Current().FileExists(schedule.m_filePath)) {
    // What was recorded stays where it is, in its own row (the library
    // keeps showing and playing it); the retry records into a row of its
    // own.
    if (!RecordAgainInNewRow(schedule, now)) return 0;
  } else if (!SetScheduleStatus(Library(), schedule, DVRSTATE_SCHEDULED, now,
                                StatusReason::kRetry)) {
    LogError(L"Schedules::RetrySchedule could not write %d", scheduleId);
    return 0;
  }
  m_startStop.StartRecordingIfAppropriate(now);
  return 0;
}

bool RecordingCompletion::RecordAgainInNewRow(const Schedule& earlier, int64_t now) {
  Schedule again = earlier;
  again.m_filePath = DVR::NextPieceFileName(earlier.m_filePath);
  if (again.m_filePath.empty()) return false;
  again.m_status = DVRSTATE_SCHEDULED;
  again.m_startTime = now;
  again.m_endTime = now + again.m_duration;
  if (!again.Insert()) {
    LogError(L"Schedules::RetrySchedule could not add a row for %d", earlier.m_id);
    return false;
  }
  LogInfo(L"Schedules::RetrySchedule keeps %ls in %d and records again into %ls",
          earlier.m_filePath.c_str(), earlier.m_id, again.m_filePath.c_str());
  Schedule added(again.m_filePath, DVRSTATE_SCHEDULED);
  if (added.m_id != 0) Library().AddMedium(added, true);
  return true;
}
