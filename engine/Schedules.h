// The recording engine: turns requests to record into rows of the
// Schedules table and into running recordings. One object, owned by PVRVel.
//
// Lock order when several are held: engine lock (EngineMutex) -> the
// waitable timer's own mutex -> database lock.
#ifndef TEV_ENGINE_SCHEDULES_H_
#define TEV_ENGINE_SCHEDULES_H_

#include <cstdint>
#include <string>

#include "engine/BumpedSet.h"
#include "platform/Variant.h"

class Schedule;

class Schedules {
 public:
  Schedules();
  ~Schedules();

  // --- Start-up and shutdown ---
  // Runs once on the module's start-up thread after the database is open.
  // True when the engine is ready.
  bool Initialize();
  // Stops the timer, the monitors and every recording in progress.
  void Shutdown();

  // --- Recording settings ---
  // Fills in missing settings at engine start: free-space floor, video and
  // audio folders, padding.
  void InitializeSettings();
  // 0, or 121/122/123 when the folder is refused (nothing changes then).
  int SetVideoRecordingDirectory(const std::wstring& folder);
  int SetAudioRecordingDirectory(const std::wstring& folder);
  void SetFreeSpaceRequired(int32_t count);
  void SetRecordPadding(int32_t seconds);

  // --- Intake ---
  // Whether a row other than `scheduleId` already uses `filePath`.
  static bool HasDuplicate(const std::wstring& filePath, int scheduleId);

  // --- Recordings in progress (engine/CurrentlyRecording.cpp) ---
  // *out becomes an array with one [Name, medium id, ChannelName] array per
  // row in DVRSTATE_RECORDING (the medium id is empty without an endpoint).
  // 0 on success; 102 when the statement fails (*out is then an empty
  // array).
  static int GetCurrentlyRecording(VARIANT* out);

  // Writable-directory probe (engine/DirectoryProbe.cpp): 0 when a test
  // file can be created in `directory`, 122 when it is not an existing
  // directory, 123 when the test file cannot be created. Leaves no file.
  static int CheckDirectoryWritable(const std::wstring& directory);

  // --- Media-library publishing ---
  static void AssignTevMediumId(int scheduleId, const std::wstring& mediumId);
  static void AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId);
  // Medium id stored for the schedule, "" when the row is missing.
  static std::wstring GetMediumId(int32_t scheduleId);
  // Media-library type of a channel mimetype ("video.file.recorded.tv", ...).
  static std::wstring MediaTypeForMimetype(const std::wstring& mimetype);
  // One-time medium-id migration of the version-5 database upgrade.
  // Returns true when the walk completed without a bus exception.
  static bool ChangeMediumIds();

  // --- Used by the conflict check; defined with the timer, start/stop and
  // completion code ---
  // Tuners for the channel mimetype (cached 30 s); -1 when it has none.
  int32_t GetTunerCount(const std::wstring& channelMimetype);
  // The user's cancel of one schedule (stops its recording when running).
  int CancelScheduledRecording(int32_t scheduleId);
  // Recomputes the timer's next wake-up. REQUIRES: EngineMutex() held.
  void SetRecordingTimerInLock();

  // --- Conflicts (engine/Conflicts.cpp) ---
  // Checks a program about to be scheduled against the overlapping rows of
  // the same mimetype and the tuner count. Returns 0 no conflict, 101
  // conflicts (list in *conflicts when not null), 102 statement failed, 105
  // no tuner, 119 same program already scheduled (*conflicts: its medium id
  // as text), 125 the same pass already records it, -1 exception. Rows it
  // skips, stops or sets to conflict are written at once and entered in
  // `bumped` with kBumpedChanged; republishing them is the caller's.
  int CheckForScheduleConflicts(const std::wstring& name, const std::wstring& channel,
                                const std::wstring& channelMimetype, int64_t start,
                                int32_t duration, VARIANT* conflicts, int32_t leaveOutId,
                                int32_t priority, bool displace, bool ownChannel,
                                const std::wstring& channelName, bool force,
                                bool includeSkipped, BumpedSet& bumped);
  // After a change that may free a tuner: returns conflicting and skipped
  // rows that nothing blocks any more to scheduled (newest first) and
  // republishes them; re-arms the timer when any changed.
  void UpdateConflicts(int32_t scheduleId);
  // Schedules the row again and skips every row that overlaps it.
  void ForceSchedule(int32_t scheduleId);
  // The "GetConflicts" service: in slot 0 a medium id; out slot 0 the list.
  // 103 when no schedule has that id, else the check's result.
  int GetConflicts(const VARIANT& in, VARIANT* out);

  // Read directly by the settings services.
  std::wstring m_videoDirectory;
  std::wstring m_audioDirectory;
  std::wstring m_thirdDirectory;

 private:
  // Skips a pending row (table and object) or cancels its recording.
  void BumpSchedule(Schedule& row);
  bool m_running = true;
  int32_t m_unused = 0;
};

#endif  // TEV_ENGINE_SCHEDULES_H_
