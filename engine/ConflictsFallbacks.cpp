// Stand-in definitions of the three engine operations the conflict code
// uses, for builds in which the timer, start/stop and completion code is not
// linked. They are weak: the engine's own definitions replace them at link
// time wherever those are present.
#include <map>
#include <string>

#include "bus/CVelAtl.h"
#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// Tuner counts per mimetype and when they were read; guarded by TunerMutex().
PMutex& TunerMutex() {
  static PMutex* mutex = new PMutex();
  return *mutex;
}
std::map<std::wstring, int32_t>& TunerCounts() {
  static std::map<std::wstring, int32_t>* counts = new std::map<std::wstring, int32_t>();
  return *counts;
}
int64_t g_tunersFilledAt = 0;

}  // namespace

__attribute__((weak)) int32_t Schedules::GetTunerCount(const std::wstring& channelMimetype) {
  PMutexLock lock(TunerMutex());
  const int64_t now = tev::Clock::Now();
  if (now > g_tunersFilledAt + 30) {
    DVR::GetNumberOfTuners(&TunerCounts());
    g_tunersFilledAt = now;
  }
  auto it = TunerCounts().find(channelMimetype);
  return it == TunerCounts().end() ? -1 : it->second;
}

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
