// Weak stand-ins for engine operations whose real definitions land
// separately; each real definition replaces its stand-in at link time.
#include "engine/Schedules.h"

__attribute__((weak)) void Schedules::ResetTunerCountCache() {}
__attribute__((weak)) int32_t Schedules::CalculateAppropriateDuration(
    int32_t duration, const std::wstring&, const std::wstring&, int64_t, int64_t) {
  return duration;
}
__attribute__((weak)) bool Schedules::ClearDiskSpace(const std::wstring&, const std::wstring&,
                                                     int64_t, const std::wstring&) {
  return true;
}
__attribute__((weak)) void Schedules::StartRecordingIfAppropriate() {}
__attribute__((weak)) void Schedules::StopCurrentRecordingsIfOver() {}
