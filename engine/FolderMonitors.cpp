// The engine's three folder monitors: started at the end of start-up,
// re-pointed by the folder setters, stopped by shutdown.
#include <algorithm>
#include <vector>

#include "db/Schedule.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "monitor/FileSystemMonitor.h"
#include "support/PMutexLock.h"

namespace {

enum MonitorIndex { kVideoMonitor = 0, kAudioMonitor = 1, kMediaCenterMonitor = 2 };

}  // namespace

FileSystemMonitor* Schedules::Monitor(const std::wstring& kind) {
  if (kind == L"video") return m_monitors[kVideoMonitor].get();
  if (kind == L"audio") return m_monitors[kAudioMonitor].get();
  if (kind == L"MediaCenter") return m_monitors[kMediaCenterMonitor].get();
  return nullptr;
}

void Schedules::StartFolderMonitors() {
  // Under the engine lock, so that a shutdown racing with start-up either
  // stops what was started or keeps it from starting.
  PMutexLock lock(m_engineMutex);
  if (!m_running) return;
  m_monitors[kVideoMonitor]->Start(L"video");
  m_monitors[kAudioMonitor]->Start(L"audio");
}

void Schedules::StartMediaCenterMonitor() {
  PMutexLock lock(m_engineMutex);
  if (!m_running) return;
  m_monitors[kMediaCenterMonitor]->Start(L"MediaCenter");
}

void Schedules::StopFolderMonitors() {
  // A start that began before the running flag was cleared ends first.
  { PMutexLock lock(m_engineMutex); }
  for (auto& monitor : m_monitors) monitor->Stop();
  for (auto& monitor : m_monitors) monitor->Join();
}

void Schedules::RepointFolderMonitor(const std::wstring& kind) {
  if (FileSystemMonitor* monitor = Monitor(kind)) monitor->ChangeFolder(kind);
}

bool Schedules::IsFileBeingRecorded(const std::wstring& filePath) {
  return m_intake.IsBeingRecorded(filePath);
}

void Schedules::PublishAdopted(const std::vector<Schedule>& rows) {
  // A few requests for the batch, each well inside the bus's payload limit.
  for (size_t first = 0; first < rows.size(); first += kRecordsPerPublication) {
    const size_t last = std::min(rows.size(), first + kRecordsPerPublication);
    Library().PublishSchedules(std::vector<Schedule>(rows.begin() + first, rows.begin() + last),
                               true);
  }
}
