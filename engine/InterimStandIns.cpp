// Weak stand-ins for engine operations whose real definitions land
// separately; each real definition replaces its stand-in at link time.
#include "engine/Schedules.h"

__attribute__((weak)) void Schedules::SetRecordingTimer() {}
__attribute__((weak)) void Schedules::SetWakeUp(int32_t, bool) {}
__attribute__((weak)) int Schedules::TimerThreadProc(void*) { return 0; }
__attribute__((weak)) void Schedules::NotifyRecordStarted(const std::wstring&) {}
__attribute__((weak)) void Schedules::NotifyRecordStartedAsync(const std::wstring&) {}
__attribute__((weak)) void Schedules::NotifyRecordFailedAsync(const std::wstring&) {}
__attribute__((weak)) void Schedules::NotifyRecordComplete(int32_t, const std::wstring&) {}
__attribute__((weak)) int Schedules::RetrySchedule(int32_t) { return 0; }
__attribute__((weak)) void Schedules::ResumeRecordings() {}
__attribute__((weak)) void Schedules::RemoveOldSchedules() {}
__attribute__((weak)) void Schedules::StopAllRecordings() {}
