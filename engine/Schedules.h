// The recording engine: turns requests to record into rows of the
// Schedules table and into running recordings. One object, owned by PVRVel.
//
// Lock order when several are held: engine lock (EngineLock()) -> the
// waitable timer's own mutex -> database lock.
#ifndef TEV_ENGINE_SCHEDULES_H_
#define TEV_ENGINE_SCHEDULES_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/BumpedSet.h"
#include "engine/EngineHost.h"
#include "engine/EngineHousekeeping.h"
#include "engine/FolderMonitors.h"
#include "engine/LibrarySync.h"
#include "engine/MediumUpdates.h"
#include "engine/PassKeeper.h"
#include "engine/RecordingCompletion.h"
#include "engine/RecordingFolders.h"
#include "engine/RecordingRequest.h"
#include "engine/RecordingStartStop.h"
#include "engine/Requests.h"
#include "engine/ScheduleConflicts.h"
#include "engine/ScheduleIntake.h"
#include "monitor/FileMetadata.h"
#include "outbound/PeerClient.h"
#include "support/PMutex.h"

class DVR;
class PThread;
class Schedule;
class SQLite;

// Result codes of the engine operations.
constexpr int kResultConflicts = 101;
constexpr int kResultStatementFailed = 102;
constexpr int kResultNoSuchSchedule = 103;
constexpr int kResultDiskFull = 107;
constexpr int kResultNothingToRecord = 110;
constexpr int kResultRemoveFailed = 108;
constexpr int kResultFileGone = 109;
constexpr int kResultNoUniqueFileName = 119;
constexpr int kResultChangeRefused = 403;

class Schedules {
 public:
  // `recorder` (which also gives the engine its peers) and `host` (may be
  // null) outlive the engine.
  explicit Schedules(DVR& recorder, EngineHost* host = nullptr);
  ~Schedules();

  // --- Start-up and shutdown (engine/Startup.cpp) ---
  // Runs once on the module's start-up thread after the database is open.
  // True when the engine is ready.
  bool Initialize();
  // Stops the timer and closes every recording in progress.
  void Shutdown();
  bool IsRunning() const { return m_running.load(); }
  EngineHost* Host() const { return m_host; }
  DVR& Recorder() { return m_dvr; }
  // The peers while the module is live; null once it has stopped being so
  // (the engine then sends nothing, and reports no medium ids).
  PeerClient* Peers() const { return m_library.Peers(); }
  void SetPeersLive(bool live) { m_library.SetLive(live); }
  // Publishes schedules to the media library.
  LibrarySync& Library() { return m_library; }
  // The engine lock: the timer and the engine's state; a transaction holds
  // it for its scope. Recursive; nothing waits for another process while
  // holding it.
  PMutex& EngineLock() TEV_RETURN_CAPABILITY(m_engineMutex) { return m_engineMutex; }
  // The season passes built over this engine; null (none) until the module
  // sets them. `keeper` outlives its use: it is cleared before it goes.
  void SetPassKeeper(PassKeeper* keeper) { m_passKeeper = keeper; }

  // --- Folder monitors (engine/FolderMonitors.cpp) ---
  FolderMonitors& Monitors() { return m_monitors; }
  // The editor of the recording files' descriptions.
  MetadataEditor* Metadata() { return &m_metadata; }

  // --- Recording settings (engine/Settings.cpp) ---
  RecordingFolders& Folders() { return m_folders; }

  // --- Intake (engine/Intake.cpp) ---
  ScheduleIntake& Intake() { return m_intake; }
  // Logs one ERROR for each recording folder (video, audio) in which no
  // file can be created. Start-up and every folder change run it.
  void CheckRecordingFolders();

  // --- Start, stop, timer, tuner counts and disk space (engine/Timer.cpp,
  // StartStop.cpp, StartRecording.cpp, TunerCounts.cpp, DiskSpace.cpp) ---
  RecordingStartStop& StartStop() { return m_startStop; }

  // --- Completion, cancel, retry, removal and the recordings in progress
  // (engine/Completion.cpp, Cancel.cpp, RemoveRecording.cpp,
  // CurrentlyRecording.cpp) ---
  RecordingCompletion& Completion() { return m_completion; }

  // --- Housekeeping: the previous run's rows, orphans, expired rows and
  // shutdown (engine/Housekeeping.cpp, Resume.cpp) ---
  EngineHousekeeping& Housekeeping() { return m_housekeeping; }

  // --- The library's change callback (engine/UpdateMedium.cpp) ---
  MediumUpdates& Updates() { return m_updates; }
  // The season passes built over this engine; null until the module sets
  // them.
  PassKeeper* Passes() const { return m_passKeeper.load(); }

  // --- Conflicts and the tuner plan (engine/Conflicts.cpp) ---
  ScheduleConflicts& Conflicts() { return m_conflicts; }

  // The recording folders as the engine last took them from the settings
  // (start-up and the settings services write them). Any thread.
  std::wstring VideoDirectory() const { return m_folders.VideoDirectory(); }
  std::wstring AudioDirectory() const { return m_folders.AudioDirectory(); }

 private:
  // Recursive (see EngineLock()).
  PMutex m_engineMutex{true};

  RecordingFolders m_folders{[this](const std::wstring& kind) { m_monitors.Repoint(kind); }};

  DVR& m_dvr;
  EngineHost* const m_host;
  std::atomic<PassKeeper*> m_passKeeper{nullptr};
  LibrarySync m_library;
  MetadataEditor m_metadata;  // outlives the monitors and the concerns that use it
  // The concerns. Start/stop and completion call each other, and
  // completion and conflicts too: each is handed the later ones before
  // they are built, and uses none of them until the engine is.
  RecordingStartStop m_startStop{*this, m_dvr, m_engineMutex, m_completion};
  RecordingCompletion m_completion{*this, m_dvr, m_host, m_metadata, m_startStop, m_conflicts};
  ScheduleConflicts m_conflicts{*this, m_startStop, m_completion};
  ScheduleIntake m_intake{*this, m_dvr, m_conflicts, m_startStop};
  MediumUpdates m_updates{*this};
  EngineHousekeeping m_housekeeping{*this, m_dvr, m_engineMutex, m_metadata, m_completion};
  std::atomic<bool> m_running{true};
  // Last: the monitors stop before the concerns they call go.
  FolderMonitors m_monitors{*this};
  int32_t m_unused = 0;  // start-up sets it to -1
};

#endif  // TEV_ENGINE_SCHEDULES_H_
