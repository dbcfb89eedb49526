// Keeps the Schedules table in step with one recording folder on disk. The
// engine owns one monitor per folder kind: "video", "audio" and
// "MediaCenter" (Windows Media Center's recording folder, only when it
// differs from the video folder).
//
// Each monitor has one worker thread (below-normal priority) that waits on
// three things at once: the folder's change notifications, its update
// timer and its wake event. A change restarts a 10-second wait, so a pass
// runs 10 seconds after the folder last changed; after every pass the
// timer is set a day ahead. A pass, in order:
//   LoadOldFilenames        adopt recording files the table does not know
//                           ("Recovered" rows, published)
//   RemoveOldDBEntries      drop finished rows whose files are gone (and
//                           their media, in one request)
//   ChangeRecordingToCompletePartial   settle rows a crash left recording
//   Schedule::Delete(now)   purge old deleted and conflicting rows
//   RemoveOldThumbnails, CheckIfThumbnailsExist   video folder only, once
//                           per monitor per run
// A folder that cannot be watched (missing, removed while watched) gets
// the daily passes only; it is watched again at the next Start or folder
// change.
//
// Life: constructed with the engine -> Start (running: waiting or in a
// pass) -> Stop (the thread leaves at its next check, within about a
// second, or after the pass in progress) -> Join or destruction (the abort
// flag ends a pass early; the thread is joined).
//
// Start, ChangeFolder, Stop and Join are called by the engine's threads
// (start-up, settings services, shutdown); the passes run on the monitor's
// thread, or on the caller's in tests. Nothing in a pass holds a lock
// across database statements, except the adoption's one commit for a batch
// of new rows (a transaction, which holds the engine lock).
#ifndef TEV_MONITOR_FILESYSTEMMONITOR_H_
#define TEV_MONITOR_FILESYSTEMMONITOR_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/FolderOutages.h"
#include "monitor/MonitorHost.h"
#include "platform/DueTimer.h"
#include "platform/FolderWatch.h"
#include "platform/WakeEvent.h"
#include "support/PMutex.h"
#include "support/PThreadAnnotations.h"

class PThread;
class Schedule;

class FileSystemMonitor {
 public:
  // `engine` supplies the video and audio folders; without one every folder
  // is empty. `outages` are the folder outages the engine's monitors share;
  // without them the monitor keeps its own. Both must outlive the monitor.
  explicit FileSystemMonitor(MonitorHost* engine, FolderOutages* outages = nullptr);
  // Stops and joins the thread.
  ~FileSystemMonitor();

  // Sets the running flag, takes the folder of `kind` and starts the
  // thread; with a thread already running it only changes the folder.
  void Start(const std::wstring& kind);
  // Takes the folder of `kind` again (the engine's folder has changed) and
  // asks for a pass at once.
  void ChangeFolder(const std::wstring& kind);
  // Clears the running flag and wakes the thread; does not wait.
  void Stop();
  // Stop, abort the pass in progress and wait for the thread to end.
  void Join();

  // --- The passes (public for the benchmark and tests) ---
  // One whole pass on the calling thread.
  void RunPass();
  // Adopts the recording files of `folder` that no row knows.
  void LoadOldFilenames(const std::wstring& folder);
  // Reads one found file into a "Recovered" row (from the file's metadata
  // when it has some). Touches no row, so it may take its time.
  Schedule ReadOldFile(const std::wstring& path, const std::wstring& channel,
                       const std::wstring& title, int64_t start);
  // Adds a row read by ReadOldFile, unless a row not deleted or missed has
  // its path or it is still being recorded. The new row is appended to
  // `toPublish`, for the caller to publish with the others of its batch.
  // True when a row was added.
  bool AddOldFile(Schedule schedule, std::vector<Schedule>* toPublish);
  // Deletes the finished rows whose files are gone or are not recordings,
  // their media (one request) and their thumbnails.
  void RemoveOldDBEntries();
  // "video" monitors: deletes the stale thumbnail files of `folder`.
  void RemoveOldThumbnails(const std::wstring& folder);
  // "video" and "MediaCenter" monitors: fills the thumbnail table from the
  // thumbnail service for every finished video recording.
  void CheckIfThumbnailsExist();

  // Splits a Media Center recording name "<title>_<channel>_<day>_<month>_
  // <year>_<hour>_<minute>_<second>.<extension>" (Media Center and video
  // folders: extension "dvr-ms" only). A name with fewer than six numbers
  // is all title, started at its modification time; so is the start of
  // numbers that give no valid local time. False only for a refused
  // extension.
  bool ParseMediaCenterFilename(const std::wstring& folder, const std::wstring& name,
                                std::wstring* channel, std::wstring* title, int64_t* start,
                                std::wstring* extension);
  // The number after the last '_' of *text (read as _wtoi reads it); *text
  // is cut back to what precedes that '_'. Throws VelException when there
  // is no '_'.
  static int32_t GetIntFromFilename(std::wstring* text);

  std::wstring Folder() const;
  std::wstring Kind() const;
  bool IsRunning() const { return m_running.load(); }

  // --- State, for diagnostics and tests ---
  // Passes run so far.
  int PassCount() const { return m_passes.load(); }
  // Changes seen so far (each one restarted the 10-second wait).
  int ChangeCount() const { return m_changes.load(); }
  // Milliseconds until the update timer is due (-1 when never set).
  int64_t MsUntilUpdate() const { return m_timer.MsUntilDue(); }
  bool IsWatching() const { return m_watching.load(); }
  // Whether the thread has ended (or never started).
  bool ThreadEnded() const { return !m_threadAlive.load(); }

  FileSystemMonitor(const FileSystemMonitor&) = delete;
  FileSystemMonitor& operator=(const FileSystemMonitor&) = delete;

 private:
  // What ended one wait of the updater loop.
  enum class Wake { kStopped, kChange, kPass };

  // Chooses the folder of `kind` and asks the thread to watch it.
  void Setup(const std::wstring& kind) TEV_EXCLUDES(m_mutex);
  // Due time requests: -1 at once, 0 half a second, n > 0 n seconds.
  void RequestUpdate(int32_t seconds);
  int UpdaterProc(void* argument);
  // Monitor thread only.
  Wake WaitForWork();
  void WatchFolderIfAsked() TEV_EXCLUDES(m_mutex);
  // Adopts those of `names` (files of `folder`) that no row knows.
  void AdoptUnknown(const std::wstring& folder, const std::vector<std::wstring>& names);
  // Parses a file's name and reads it; false for a file not to adopt.
  bool ReadEntry(const std::wstring& folder, const std::wstring& name, Schedule* found);
  bool IsVideoFolder() const TEV_EXCLUDES(m_mutex);
  bool IsAudioFolder() const TEV_EXCLUDES(m_mutex);

  // The engine's lock, or without an engine one of the monitor's own.
  PMutex& EngineLock() { return m_engine != nullptr ? m_engine->EngineLock() : m_ownEngineLock; }

  // Constant after construction.
  MonitorHost* const m_engine;
  PMutex m_ownEngineLock{true};
  FolderOutages m_ownOutages;
  FolderOutages* const m_outages;

  // Guarded by m_mutex (held for one read or change, never across a pass).
  mutable PMutex m_mutex;
  std::wstring m_folder TEV_GUARDED_BY(m_mutex);
  std::wstring m_kind TEV_GUARDED_BY(m_mutex);
  // Whether m_folder is the engine's video (audio) folder, as it was when
  // the folder was taken.
  bool m_isVideoFolder TEV_GUARDED_BY(m_mutex) = false;
  bool m_isAudioFolder TEV_GUARDED_BY(m_mutex) = false;
  // Set by Setup; the thread then watches m_folder afresh.
  bool m_watchAsked TEV_GUARDED_BY(m_mutex) = false;
  PThread* m_thread TEV_GUARDED_BY(m_mutex) = nullptr;

  // Usable from any thread.
  tev::DueTimer m_timer;
  tev::WakeEvent m_wake;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_abort{false};

  // Written by the monitor's thread only.
  tev::FolderWatch m_watch;
  std::atomic<bool> m_thumbnailsDone{false};
  std::atomic<bool> m_watching{false};
  std::atomic<bool> m_threadAlive{false};
  std::atomic<int> m_passes{0};
  std::atomic<int> m_changes{0};
};

#endif  // TEV_MONITOR_FILESYSTEMMONITOR_H_
