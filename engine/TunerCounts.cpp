// How many recordings of a kind may run at once: the TV service's tuner
// counts, cached for 30 seconds, and the per-mimetype limits built on them.
//
// The cache is RecordingStartStop::m_tunerCounts.
#include <cstdint>
#include <map>
#include <string>

#include "dvr/DVR.h"
#include "engine/RecordingStartStop.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// Seconds a fill of the cache stays valid.
constexpr int64_t kTunerCacheSeconds = 30;
// The limit of kinds that record without a tuner (web streams, mail).
constexpr int32_t kUnlimitedRecordings = 300;

}  // namespace

RecordingStartStop::RecordingStartStop(Schedules& engine, DVR& recorder, PMutex& engineLock,
                                       RecordingCompletion& completion)
    : m_engine(engine), m_dvr(recorder), m_engineLock(engineLock), m_completion(completion) {}

RecordingStartStop::~RecordingStartStop() = default;

PeerClient* RecordingStartStop::Peers() const { return m_engine.Peers(); }

LibrarySync& RecordingStartStop::Library() const { return m_engine.Library(); }

int32_t RecordingStartStop::GetTunerCount(const std::wstring& channelMimetype) {
  const int64_t now = tev::Clock::Now();
  std::map<std::wstring, int32_t> counts;
  bool stale = false;
  {
    PMutexLock lock(m_tunerCacheMutex);
    stale = now > m_tunerCountsFilledAt + kTunerCacheSeconds;
    // Under the engine lock (a transaction) the TV service is not waited
    // for: the counts last read serve. Such callers fill the cache first.
    if (stale && m_tunerCountsFilledAt != 0 && m_engineLock.HeldByCallingThread()) stale = false;
    counts = m_tunerCounts;
  }
  if (stale) {
    // A failed request leaves `counts` as the cache held it.
    m_dvr.GetNumberOfTuners(&counts);
    PMutexLock lock(m_tunerCacheMutex);
    m_tunerCounts = counts;
    m_tunerCountsFilledAt = now;
  }
  auto it = counts.find(channelMimetype);
  return it == counts.end() ? -1 : it->second;
}

void RecordingStartStop::ResetTunerCountCache() {
  PMutexLock lock(m_tunerCacheMutex);
  m_tunerCounts.clear();
  m_tunerCountsFilledAt = 0;
}

int32_t RecordingStartStop::MaxSimultaneousRecordings(const std::wstring& channelMimetype) {
  if (channelMimetype == L"video/x-inputdevice") return 1;
  if (channelMimetype == L"video/x-tv") return GetTunerCount(L"video/x-tv");
  return kUnlimitedRecordings;
}
