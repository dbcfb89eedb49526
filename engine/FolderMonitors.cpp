#include "engine/FolderMonitors.h"

#include <algorithm>

#include "db/Schedule.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "monitor/FileSystemMonitor.h"
#include "support/PMutexLock.h"

namespace {

enum MonitorIndex { kVideoMonitor = 0, kAudioMonitor = 1, kMediaCenterMonitor = 2 };

}  // namespace

FolderMonitors::FolderMonitors(Schedules& engine) : m_engine(engine) {
  for (auto& monitor : m_monitors) monitor.reset(new FileSystemMonitor(this, &m_outages));
}

FolderMonitors::~FolderMonitors() {
  for (auto& monitor : m_monitors) monitor.reset();
}

FileSystemMonitor* FolderMonitors::Monitor(const std::wstring& kind) {
  if (kind == L"video") return m_monitors[kVideoMonitor].get();
  if (kind == L"audio") return m_monitors[kAudioMonitor].get();
  if (kind == L"MediaCenter") return m_monitors[kMediaCenterMonitor].get();
  return nullptr;
}

void FolderMonitors::Start() {
  // Under the engine lock, so that a shutdown racing with start-up either
  // stops what was started or keeps it from starting.
  PMutexLock lock(m_engine.EngineLock());
  if (!m_engine.IsRunning()) return;
  m_monitors[kVideoMonitor]->Start(L"video");
  m_monitors[kAudioMonitor]->Start(L"audio");
}

void FolderMonitors::StartMediaCenter() {
  PMutexLock lock(m_engine.EngineLock());
  if (!m_engine.IsRunning()) return;
  m_monitors[kMediaCenterMonitor]->Start(L"MediaCenter");
}

void FolderMonitors::Stop() {
  // A start that began before the running flag was cleared ends first.
  { PMutexLock lock(m_engine.EngineLock()); }
  for (auto& monitor : m_monitors) monitor->Stop();
  for (auto& monitor : m_monitors) monitor->Join();
}

void FolderMonitors::Repoint(const std::wstring& kind) {
  if (FileSystemMonitor* monitor = Monitor(kind)) monitor->ChangeFolder(kind);
}

std::wstring FolderMonitors::VideoDirectory() const { return m_engine.Folders().VideoDirectory(); }

std::wstring FolderMonitors::AudioDirectory() const { return m_engine.Folders().AudioDirectory(); }

void FolderMonitors::ChangeRecordingToCompletePartial(int64_t now) {
  m_engine.Housekeeping().ChangeRecordingToCompletePartial(now);
}

bool FolderMonitors::IsFileBeingRecorded(const std::wstring& filePath) {
  return m_engine.Intake().IsBeingRecorded(filePath);
}

void FolderMonitors::PublishAdopted(const std::vector<Schedule>& rows) {
  // A few requests for the batch, each well inside the bus's payload limit.
  for (size_t first = 0; first < rows.size(); first += kRecordsPerPublication) {
    const size_t last = std::min(rows.size(), first + kRecordsPerPublication);
    m_engine.Library().PublishSchedules(
        std::vector<Schedule>(rows.begin() + first, rows.begin() + last), true);
  }
}

DVR& FolderMonitors::Recorder() { return m_engine.Recorder(); }

MetadataEditor* FolderMonitors::Metadata() { return m_engine.Metadata(); }

PMutex& FolderMonitors::EngineLock() { return m_engine.EngineLock(); }
