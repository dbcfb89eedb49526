// The monitor's thread: waiting for a change, the timer or the wake event,
// and the pass it then runs.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "db/Schedule.h"
#include "monitor/FileSystemMonitor.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

namespace {

// Below normal: passes give way to recording and serving requests.
constexpr int kBelowNormalNice = 5;
// The longest single wait, so that a stop or a shifted clock is seen soon.
constexpr int kSliceMs = 1000;
constexpr int32_t kSettleSeconds = 10;
constexpr int32_t kDailySeconds = 86400;

}  // namespace

int FileSystemMonitor::UpdaterProc(void* argument) {
  // On Linux nice() changes the calling thread only.
  errno = 0;
  if (nice(kBelowNormalNice) == -1 && errno != 0) {
    LogWarn(L"FileSystemMonitor: could not lower the priority of UpdaterProc (errno %d)", errno);
  }
  LogDebug(L"FileSystemMonitor::Updater - Starting %ls", Folder().c_str());
  RequestUpdate(-1);
  while (m_running) {
    WatchFolderIfAsked();
    LogDebug(L"FileSystemMonitor::Updater waiting on %ls", Folder().c_str());
    const Wake wake = WaitForWork();
    if (wake == Wake::kStopped || !m_running) break;
    if (wake == Wake::kChange) {
      RequestUpdate(kSettleSeconds);
      ++m_changes;
      continue;
    }
    WatchFolderIfAsked();
    RunPass();
  }
  LogDebug(L"FileSystemMonitor::Updater - Exiting");
  m_watch.Close();
  m_watching = false;
  LogDebug(L"FileSystemMonitor::UpdaterProc - Exited");
  m_threadAlive = false;
  return 0;
}

FileSystemMonitor::Wake FileSystemMonitor::WaitForWork() {
  for (;;) {
    if (!m_running) return Wake::kStopped;
    struct pollfd fds[3];
    nfds_t count = 0;
    const nfds_t wakeAt = count;
    fds[count++] = {m_wake.fd(), POLLIN, 0};
    const nfds_t timerAt = count;
    fds[count++] = {m_timer.fd(), POLLIN, 0};
    const nfds_t watchAt = count;
    fds[count++] = {m_watch.fd(), POLLIN, 0};  // a negative fd is skipped
    int timeout = kSliceMs;
    const int64_t untilDue = m_timer.MsUntilDue();
    if (untilDue >= 0 && untilDue < timeout) timeout = static_cast<int>(untilDue);
    if (poll(fds, count, timeout) < 0 && errno != EINTR) {
      LogError(L"FileSystemMonitor::Updater poll failed (errno %d)", errno);
    }
    const bool woken = (fds[wakeAt].revents & POLLIN) && m_wake.Consume();
    if (fds[timerAt].revents & POLLIN) m_timer.Drain();
    if (fds[watchAt].fd >= 0 && (fds[watchAt].revents & POLLIN)) {
      const tev::FolderWatch::Events events = m_watch.Drain();
      if (events.lost) {
        m_watching = false;
        LogWarn(L"FileSystemMonitor: %ls is no longer watched; it is updated once a day",
                Folder().c_str());
      }
      if (events.overflow) {
        LogWarn(L"FileSystemMonitor: changes in %ls were lost; updating now", Folder().c_str());
        return m_running ? Wake::kPass : Wake::kStopped;
      }
      if (events.changed || events.lost) {
        // Changes come in bursts (every write of a file): take them at most
        // once a second. A stop or a new folder during the wait means a
        // pass (or the end) at once.
        if (m_wake.Wait(kSliceMs)) return m_running ? Wake::kPass : Wake::kStopped;
        return Wake::kChange;
      }
    }
    if (!m_running) return Wake::kStopped;
    if (m_timer.IsDue() || woken) return Wake::kPass;
  }
}

void FileSystemMonitor::WatchFolderIfAsked() {
  std::wstring folder;
  {
    PMutexLock lock(m_mutex);
    if (!m_watchAsked) return;
    m_watchAsked = false;
    folder = m_folder;
  }
  int error = 0;
  if (m_watch.Open(tev::ToStdUtf8(folder), &error)) {
    m_watching = true;
    return;
  }
  m_watching = false;
  LogWarn(L"FileSystemMonitor: cannot watch %ls (errno %d); it is updated once a day",
          folder.c_str(), error);
}

void FileSystemMonitor::RunPass() {
  RequestUpdate(kDailySeconds);
  const std::wstring folder = Folder();
  LogDebug(L"FileSystemMonitor::Updater Running");
  LogDebug(L"FileSystemMonitor::Updater waking up on %ls", folder.c_str());
  try {
    LoadOldFilenames(folder);
    LogDebug(L"FileSystemMonitor::Updater done LoadOldFilenames on %ls", folder.c_str());
    if (!m_abort) {
      RemoveOldDBEntries();
      LogDebug(L"FileSystemMonitor::Updater done RemoveOldDBEntries on %ls", folder.c_str());
    }
    if (!m_abort && m_engine != nullptr)
      m_engine->ChangeRecordingToCompletePartial(tev::Clock::Now());
    if (!m_abort) Schedule::Delete(tev::Clock::Now());
    if (!m_abort && m_engine != nullptr && IsVideoFolder()) {
      LogDebug(L"FileSystemMonitor::Updater done ChangeRecordingToCompletePartial on %ls",
               folder.c_str());
      if (!m_thumbnailsDone) {
        RemoveOldThumbnails(folder);
        LogDebug(L"FileSystemMonitor::Updater done RemoveOldThumbnails on %ls", folder.c_str());
        CheckIfThumbnailsExist();
        LogDebug(L"FileSystemMonitor::Updater done CheckIfThumbnailsExist on %ls", folder.c_str());
        m_thumbnailsDone = true;
      }
    }
  } catch (const std::exception&) {
    LogError(L"FileSystemMonitor::Updater: received exception");
  } catch (...) {
    LogError(L"FileSystemMonitor::Updater: received exception");
  }
  ++m_passes;
}
