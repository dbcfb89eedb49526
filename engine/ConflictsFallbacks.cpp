// Stand-in definitions of two engine operations the conflict code uses, for
// builds in which the timer and completion code is not linked. They are
// weak: the engine's own definitions replace them at link time wherever
// those are present.
#include <string>

#include "bus/CVelAtl.h"
#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"

__attribute__((weak)) int Schedules::CancelScheduledRecording(int32_t scheduleId) {
  Schedule schedule(scheduleId);
  if (schedule.m_id == 0) return 0;
  CVelAtl* vel = TheVel();
  if (schedule.m_status == DVRSTATE_RECORDING) {
    DVR::StopRecording(schedule.m_user, schedule.m_channel, schedule.m_channelMimetype,
                       schedule.m_filePath);
    schedule.m_status = DVRSTATE_COMPLETE_PARTIAL;
    if (vel != nullptr) {
      vel->NotifyStopRecording(schedule.m_id, schedule.m_name, schedule.m_channelName);
    }
    schedule.m_endTime = tev::Clock::Now();
    if (schedule.Update()) UpdateConflicts(schedule.m_id);
  } else {
    schedule.m_status = DVRSTATE_COMPLETE_PARTIAL;
    if (vel != nullptr) {
      vel->NotifyStopRecording(schedule.m_id, schedule.m_name, schedule.m_channelName);
    }
    Schedule::AddMedium(schedule, true);
  }
  return 0;
}

// Without the engine's timer there is nothing to re-arm.
__attribute__((weak)) void Schedules::SetRecordingTimerInLock() {}
