// Stand-in definitions of engine operations the conflict code uses, for
// builds in which the timer and start/stop code is not linked. They are weak: the engine's own definitions replace them at link
// time wherever those are present.
#include <map>
#include <string>

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

