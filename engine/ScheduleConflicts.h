// Conflict detection and the tuner plan of contention windows: which
// schedules can record, given the tuner count of their mimetype and the
// season-pass priorities. One per engine.
#ifndef TEV_ENGINE_SCHEDULECONFLICTS_H_
#define TEV_ENGINE_SCHEDULECONFLICTS_H_

#include <cstdint>
#include <set>
#include <string>

#include "engine/BumpedSet.h"
#include "engine/Requests.h"

class LibrarySync;
class PeerClient;
class RecordingCompletion;
class RecordingStartStop;
class Schedule;
class Schedules;

class ScheduleConflicts {
 public:
  // `engine` (the peers), `startStop` (the tuner counts, the timer) and
  // `completion` (the cancel of a recording) outlive this object.
  ScheduleConflicts(Schedules& engine, RecordingStartStop& startStop,
                    RecordingCompletion& completion)
      : m_engine(engine), m_startStop(startStop), m_completion(completion) {}

  // Checks a program about to be scheduled against the overlapping rows of
  // the same mimetype and the tuner count. Returns 0 no conflict, 101
  // conflicts (list in *conflicts when not null), 102 statement failed, 105
  // no tuner, 119 same program already scheduled (*conflicts: its medium
  // id), 125 the same pass already records it, -1 exception. Rows it
  // skips, stops or sets to conflict are written at once and entered in
  // `bumped` with kBumpedChanged; republishing them is the caller's. With
  // `queryOnly` nothing is written or stopped: rows that would be skipped
  // or stopped are reported as conflicts instead. `now` is the caller's
  // reading of the clock.
  int CheckForScheduleConflicts(const std::wstring& name, const std::wstring& channel,
                                const std::wstring& channelMimetype, int64_t start,
                                int32_t duration, ScheduleAnswer* conflicts, int32_t leaveOutId,
                                int32_t priority, bool displace, bool ownChannel,
                                const std::wstring& channelName, bool force, bool includeSkipped,
                                BumpedSet& bumped, int64_t now, bool queryOnly = false);
  // After a change that may free a tuner: returns conflicting and skipped
  // rows that nothing blocks any more to scheduled (newest first) and
  // republishes them; re-arms the timer when any changed.
  void UpdateConflicts(int32_t scheduleId, int64_t now);
  // Plans the tuners of the contention window around the schedule's time
  // and writes the plan: pass episodes it leaves out become CONFLICT with
  // the reason in words (ConflictReasons), those it finds room for again
  // SCHEDULED. Changed rows are entered in `bumped` (kBumpedChanged unless
  // already there); republishing them is the caller's.
  void ReplanAround(int32_t scheduleId, int64_t now, BumpedSet& bumped);
  // The same for [lo, hi) of that mimetype (and capture device `channel`);
  // the ids planned are added to *planned when not null.
  void ReplanWindow(const std::wstring& mimetype, const std::wstring& channel, int64_t lo,
                    int64_t hi, int64_t now, BumpedSet& bumped, std::set<int32_t>* planned);
  // Schedules the row again and skips every row that overlaps it.
  void ForceSchedule(int32_t scheduleId, int64_t now);
  // The "GetConflicts" service for the schedule with that medium id: what
  // the check answers, without changing anything. 103 when no schedule has
  // that id, else the check's result.
  int GetConflicts(const std::wstring& mediumId, ScheduleAnswer* out);

 private:
  // Skips a pending row (table and object) or cancels its recording.
  void BumpSchedule(Schedule& row, int64_t now);
  PeerClient* Peers() const;

  // The engine's publisher to the media library.
  LibrarySync& Library() const;
  Schedules& m_engine;
  RecordingStartStop& m_startStop;
  RecordingCompletion& m_completion;
};

#endif  // TEV_ENGINE_SCHEDULECONFLICTS_H_
