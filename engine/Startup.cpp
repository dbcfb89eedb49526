// Engine start-up and shutdown.
#include <malloc.h>

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

bool Schedules::Initialize() {
  m_startStop.ResetTunerCountCache();
  if (m_host == nullptr || !m_host->WaitForTevMedia()) {
    LogError(L"Schedules::Initialize : TevMedia is not ready !!!");
    return false;
  }
  // An upgraded file may still owe the media library its new medium ids.
  if (!m_host->FinishMediumIdUpgrade()) {
    LogError(L"Schedules::Initialize: medium ids not migrated yet; next start tries again");
  }
  {
    // Under the engine lock, so that a shutdown racing with start-up either
    // sees the thread or stops it from being started.
    PMutexLock lock(m_startStop.EngineLock());
    if (!m_running) return false;
    // Rows whose time passed while the module was down are settled before
    // the first wake-up is computed.
    const int64_t now = tev::Clock::Now();
    m_housekeeping.RemoveOldSchedules(now);
    m_intake.ChangePastScheduledToMissed(now);
    m_startStop.StartTimerThread();
  }
  if (!m_running) return false;
  RecordingSettings::InitializeFreeSpaceRequired();
  if (!m_running) return false;
  m_folders.LoadFolders();
  CheckRecordingFolders();
  if (!m_running) return false;
  m_housekeeping.ResumeRecordings();
  if (!m_running) return false;
  m_housekeeping.RemoveOldSchedules(tev::Clock::Now());
  if (!m_running) return false;
  m_library.SyncWithTevMedia(Passes());
  // The sync reads every row once; what it freed goes back to the system,
  // so that an idle module stays small.
  malloc_trim(0);
  // Resumed rows may be due at once.
  m_startStop.SetRecordingTimer();
  if (!m_running) return false;
  if (PeerClient* vel = Peers()) m_completion.NotifyRecordingChange(*vel);
  if (!m_running) return false;
  m_monitors.Start();
  const std::wstring third =
      Peers() != nullptr ? RecordingSettings::MediaCenterRecordPath() : std::wstring();
  if (!third.empty()) {
    LogInfo(L"Monitoring mediacenter recorded tv folder");
    if (third != VideoDirectory()) {
      LogInfo(L"Mediacenter recorded tv folder is different from the user supplied recorded tv "
              L"folder");
      m_monitors.StartMediaCenter();
    }
  }
  if (!m_running) return false;
  m_unused = -1;
  if (!m_running) return false;
  RecordingSettings::InitializeRecordPadding();
  return true;
}

void Schedules::Shutdown() {
  LogDebug(L"Schedules::Shutdown");
  m_running = false;
  m_startStop.StopTimerThread();
  m_completion.StopThumbnailRequests();
  m_housekeeping.StopAllRecordings(tev::Clock::Now());
  m_startStop.EndTimerLoop();
  m_monitors.Stop();
}
