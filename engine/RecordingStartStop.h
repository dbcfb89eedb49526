// Starting and stopping recordings: the timer that wakes the engine when
// something is due, the start and stop decisions it then makes, the tuner
// counts they rest on and the disk space a recording needs. One per engine.
//
// Lock order as the engine's (Schedules.h): engine lock -> the timer's own
// mutex -> database lock.
#ifndef TEV_ENGINE_RECORDINGSTARTSTOP_H_
#define TEV_ENGINE_RECORDINGSTARTSTOP_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "engine/PastInstants.h"
#include "support/PMutex.h"
#include "support/StandByWaitableTimer.h"

class LibrarySync;
class DVR;
class PeerClient;
class PThread;
class RecordingCompletion;
class Schedule;
class Schedules;
class SQLite;

class RecordingStartStop {
 public:
  // `engine` (running flag, peers, housekeeping after each timer
  // computation), `recorder`, `engineLock` and `completion` (the cancel of
  // a recording) outlive this object; `completion` may still be under
  // construction when it is built.
  RecordingStartStop(Schedules& engine, DVR& recorder, PMutex& engineLock,
                     RecordingCompletion& completion);
  ~RecordingStartStop();

  // The engine lock (Schedules::EngineLock()), as this object names it.
  PMutex& EngineLock() TEV_RETURN_CAPABILITY(m_engineLock) { return m_engineLock; }
  // The timer the engine's thread sleeps on.
  StandByWaitableTimer& Timer() { return m_timer; }

  // --- Timer (engine/Timer.cpp) ---
  // Takes the engine lock and recomputes the next wake-up.
  void SetRecordingTimer();
  // Recomputes the timer's next wake-up. REQUIRES: the engine lock held.
  void SetRecordingTimerInLock() TEV_REQUIRES(m_engineLock);
  // Arms the engine's timer: 10 ms for a negative count, 2 s for 0.
  void SetWakeUp(int32_t seconds, bool resume);
  // Body of the timer thread; `argument` is unused.
  int TimerThreadProc(void* argument);
  // Computes the first wake-up and starts the timer thread (start-up).
  void StartTimerThread() TEV_REQUIRES(m_engineLock);
  // Cancels the timer and joins its thread, when one was started.
  void StopTimerThread() TEV_EXCLUDES(m_engineLock);
  // Ends the timer loop for good and wakes it (shutdown).
  void EndTimerLoop();

  // --- Start and stop decisions (engine/StartStop.cpp, TunerCounts.cpp) ---
  // Tuners for the channel mimetype (cached 30 s); -1 when it has none.
  int32_t GetTunerCount(const std::wstring& channelMimetype) TEV_EXCLUDES(m_tunerCacheMutex);
  // Forgets the cached tuner counts (start-up).
  void ResetTunerCountCache() TEV_EXCLUDES(m_tunerCacheMutex);
  // How many recordings of this channel mimetype may run at once.
  int32_t MaxSimultaneousRecordings(const std::wstring& channelMimetype);
  // Length to record: the time left before the start, the duration and the
  // padding after it unless the next program on the same tuner needs it.
  int32_t CalculateAppropriateDuration(int32_t duration, const std::wstring& channelMimetype,
                                       const std::wstring& channel, int64_t start, int64_t end,
                                       int64_t now);
  int32_t CalculateAppropriateDuration(const Schedule& row, int64_t now);
  // Whether every tuner of the row's kind is recording (a running recording
  // inside its own window is stopped then).
  bool ChannelBusy(const Schedule& row, int64_t now);
  bool StopCurrentRecordingIfAppropriate(const Schedule& row, int64_t now);
  // Stops the earliest recording whose end plus padding has passed by `now`.
  // Both ask the recorder, so never with the engine lock held.
  void StopCurrentRecordingsIfOver(int64_t now) TEV_EXCLUDES(m_engineLock);
  // Starts every scheduled row due at `now` that can start.
  void StartRecordingIfAppropriate(int64_t now) TEV_EXCLUDES(m_engineLock);

  // --- Disk space (engine/DiskSpace.cpp) ---
  // True when `directory` has room for `duration` seconds of the mimetype
  // plus the free-space floor, after deleting what the keep-until rules
  // allow as of `now`.
  bool ClearDiskSpace(const std::wstring& directory, const std::wstring& channelMimetype,
                      int64_t duration, const std::wstring& quality, int64_t now);
  // ClearDiskSpace for the mimetype's recording folder; on false the row
  // becomes DVRSTATE_DISK_FULL.
  bool ClearDiskSpaceForSchedule(const std::wstring& channelMimetype, int32_t scheduleId,
                                 int64_t duration, const std::wstring& quality, int64_t now);
  // Deletes the candidate rows' files, oldest first, until there is room;
  // nothing when even all of them would not make enough.
  bool DeleteOldRecordings(const std::wstring& directory, SQLite& candidates, int64_t spaceNeeded,
                           int64_t spaceAvailable);

 private:
  // The engine's publisher to the media library.
  LibrarySync& Library() const;
  Schedules& m_engine;
  DVR& m_dvr;
  // Recursive (see Schedules::EngineLock()).
  PMutex& m_engineLock;
  RecordingCompletion& m_completion;
  // The timer thread sleeps on it; cancelled by StopTimerThread.
  StandByWaitableTimer m_timer;
  // The moments armed while already past (each gets one wake-up).
  PastInstants m_armedPastInstants TEV_GUARDED_BY(m_engineLock);
  PThread* m_timerThread TEV_GUARDED_BY(m_engineLock) = nullptr;  // owned; null before start-up
  // Set by the timer thread when it enters its loop, cleared by EndTimerLoop.
  std::atomic<bool> m_timerRunning{false};
  // The timer and a retry never start the same due row twice. A lock of
  // its own, not the engine lock: the streamer is asked while it is held.
  std::mutex m_starting;

  // Tuner counts per channel mimetype as the TV service last gave them, and
  // when (0: never). Held alone; the TV service is asked without it.
  PMutex m_tunerCacheMutex;
  std::map<std::wstring, int32_t> m_tunerCounts TEV_GUARDED_BY(m_tunerCacheMutex);
  int64_t m_tunerCountsFilledAt TEV_GUARDED_BY(m_tunerCacheMutex) = 0;

  PeerClient* Peers() const;
};

#endif  // TEV_ENGINE_RECORDINGSTARTSTOP_H_
