// The monitor's life: construction, start, folder changes, stop and join.
#include "monitor/FileSystemMonitor.h"

#include <exception>

#include "db/RecordingSettings.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/PThread.h"

namespace {

constexpr int32_t kAtOnce = -1;

}  // namespace

FileSystemMonitor::FileSystemMonitor(MonitorHost* engine, FolderOutages* outages)
    : m_engine(engine), m_outages(outages != nullptr ? outages : &m_ownOutages) {
  if (!m_timer.ok()) LogError(L"FileSystemMonitor: CreateWaitableTimer failed");
  if (!m_wake.ok()) LogError(L"FileSystemMonitor: CreateEvent failed");
}

FileSystemMonitor::~FileSystemMonitor() { Join(); }

void FileSystemMonitor::Start(const std::wstring& kind) {
  bool haveThread;
  {
    PMutexLock lock(m_mutex);
    haveThread = m_thread != nullptr;
  }
  if (haveThread) {
    if (m_running) {
      ChangeFolder(kind);
      return;
    }
    Join();  // stopped but not yet joined: start afresh
  }
  m_running = true;
  m_abort = false;
  Setup(kind);
  PMutexLock lock(m_mutex);
  m_threadAlive = true;
  try {
    m_thread = new PThread(this, &FileSystemMonitor::UpdaterProc, nullptr);
  } catch (const std::exception&) {
    m_threadAlive = false;
    LogError(L"FileSystemMonitor: CreateThread failed for %ls (%ls)", L"UpdaterProc",
             m_folder.c_str());
    m_running = false;
  }
}

void FileSystemMonitor::ChangeFolder(const std::wstring& kind) {
  Setup(kind);
  RequestUpdate(kAtOnce);
  m_wake.Set();
}

void FileSystemMonitor::Stop() {
  LogDebug(L"FileSystemMonitor stopping");
  m_running = false;
  RequestUpdate(kAtOnce);
  m_wake.Set();
  LogDebug(L"FileSystemMonitor stopped");
}

void FileSystemMonitor::Join() {
  m_running = false;
  m_abort = true;
  m_wake.Set();
  PThread* thread;
  {
    PMutexLock lock(m_mutex);
    thread = m_thread;
    m_thread = nullptr;
  }
  if (thread != nullptr) {
    thread->join(nullptr);
    delete thread;
  }
}

void FileSystemMonitor::Setup(const std::wstring& kind) {
  std::wstring folder, video, audio;
  if (m_engine != nullptr) {
    video = m_engine->VideoDirectory();
    audio = m_engine->AudioDirectory();
    if (kind == L"video") {
      folder = video;
    } else if (kind == L"audio") {
      folder = audio;
    } else {
      folder = RecordingSettings::MediaCenterRecordPath();
    }
  }
  PMutexLock lock(m_mutex);
  m_kind = kind;
  m_folder = folder;
  m_isVideoFolder = !folder.empty() && folder == video;
  m_isAudioFolder = !folder.empty() && folder == audio;
  m_watchAsked = true;
}

void FileSystemMonitor::RequestUpdate(int32_t seconds) {
  if (seconds > 0) {
    LogDebug(L"Wait %d seconds before updating %ls", seconds, Folder().c_str());
    m_timer.SetAfterMs(static_cast<int64_t>(seconds) * 1000);
  } else {
    m_timer.SetAfterMs(seconds == 0 ? 500 : 0);
  }
}

std::wstring FileSystemMonitor::Folder() const {
  PMutexLock lock(m_mutex);
  return m_folder;
}

std::wstring FileSystemMonitor::Kind() const {
  PMutexLock lock(m_mutex);
  return m_kind;
}

bool FileSystemMonitor::IsVideoFolder() const {
  PMutexLock lock(m_mutex);
  return m_isVideoFolder;
}

bool FileSystemMonitor::IsAudioFolder() const {
  PMutexLock lock(m_mutex);
  return m_isAudioFolder;
}
