// Intake: the one road by which a request to record becomes a row of the
// Schedules table, and the rows' owner and the passing of their time. One
// per engine.
#ifndef TEV_ENGINE_SCHEDULEINTAKE_H_
#define TEV_ENGINE_SCHEDULEINTAKE_H_

#include <cstdint>
#include <set>
#include <string>

#include "engine/RecordingRequest.h"
#include "engine/Requests.h"
#include "support/PMutex.h"

class LibrarySync;
class DVR;
class PeerClient;
class RecordingStartStop;
class ScheduleConflicts;
class Schedules;

class ScheduleIntake {
 public:
  // `engine` (the peers), `recorder` and the sibling concerns outlive this
  // object.
  ScheduleIntake(Schedules& engine, DVR& recorder, ScheduleConflicts& conflicts,
                 RecordingStartStop& startStop)
      : m_engine(engine), m_dvr(recorder), m_conflicts(conflicts), m_startStop(startStop) {}

  // The one entry point for a new recording request. On 0 *answer (when
  // given) holds the new row's medium id; on a conflict what the check
  // answered.
  int Add(const RecordingRequest& request, ScheduleAnswer* answer);
  // Scheduled, skipped and conflicting rows that ended over a minute before
  // `now` become missed (retry when they have an episode address).
  void ChangePastScheduledToMissed(int64_t now);
  // Writes the row's owner and republishes it.
  void SetScheduleOwner(int32_t scheduleId, int32_t owner);
  void SetScheduleOwner(int32_t scheduleId, const std::wstring& owner);
  // Recording files being created by intake right now (the folder monitor
  // must not take them for foreign files).
  bool IsPendingFile(const std::wstring& filePath) TEV_EXCLUDES(m_startingSetMutex);
  void AddPendingFile(const std::wstring& filePath) TEV_EXCLUDES(m_startingSetMutex);
  void RemovePendingFile(const std::wstring& filePath) TEV_EXCLUDES(m_startingSetMutex);
  // A file intake is creating (pending) or the streamer is writing under a
  // stream id this run holds (started or adopted): no orphan, and no
  // foreign file to adopt.
  bool IsBeingRecorded(const std::wstring& filePath);

 private:
  PeerClient* Peers() const;

  // The engine's publisher to the media library.
  LibrarySync& Library() const;
  Schedules& m_engine;
  DVR& m_dvr;
  ScheduleConflicts& m_conflicts;
  RecordingStartStop& m_startStop;
  // Held alone, for one look-up or change of the pending files.
  PMutex m_startingSetMutex;
  std::set<std::wstring> m_pendingFiles TEV_GUARDED_BY(m_startingSetMutex);
};

#endif  // TEV_ENGINE_SCHEDULEINTAKE_H_
