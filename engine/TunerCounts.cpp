// How many recordings of a kind may run at once: the TV service's tuner
// counts, cached for 30 seconds, and the per-mimetype limits built on them.
//
// Process-wide state: the cache (counts per mimetype and the time of the
// last fill, 0 until the first one), guarded by TunerCacheMutex(). The TV
// service is asked without that lock held.
#include <cstdint>
#include <map>
#include <string>

#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/NoDestructor.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// Seconds a fill of the cache stays valid.
constexpr int64_t kTunerCacheSeconds = 30;
// The limit of kinds that record without a tuner (web streams, mail).
constexpr int32_t kUnlimitedRecordings = 300;

PMutex& TunerCacheMutex() {
  static tev::NoDestructor<PMutex> mutex;
  return *mutex;
}

// Guarded by TunerCacheMutex().
struct TunerCache {
  std::map<std::wstring, int32_t> counts;
  int64_t filledAt = 0;
};
TunerCache& Cache() {
  static tev::NoDestructor<TunerCache> cache;
  return *cache;
}

}  // namespace

int32_t Schedules::GetTunerCount(const std::wstring& channelMimetype) {
  const int64_t now = tev::Clock::Now();
  std::map<std::wstring, int32_t> counts;
  bool stale = false;
  {
    PMutexLock lock(TunerCacheMutex());
    stale = now > Cache().filledAt + kTunerCacheSeconds;
    counts = Cache().counts;
  }
  if (stale) {
    // A failed request leaves `counts` as the cache held it.
    DVR::GetNumberOfTuners(&counts);
    PMutexLock lock(TunerCacheMutex());
    Cache().counts = counts;
    Cache().filledAt = now;
  }
  auto it = counts.find(channelMimetype);
  return it == counts.end() ? -1 : it->second;
}

void Schedules::ResetTunerCountCache() {
  PMutexLock lock(TunerCacheMutex());
  Cache().counts.clear();
  Cache().filledAt = 0;
}

int32_t Schedules::MaxSimultaneousRecordings(const std::wstring& channelMimetype) {
  if (channelMimetype == L"video/x-inputdevice") return 1;
  if (channelMimetype == L"video/x-tv") return GetTunerCount(L"video/x-tv");
  return kUnlimitedRecordings;
}
