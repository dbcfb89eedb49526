// Housekeeping of the Schedules table over the engine's life: which rows
// the previous run left and what a restart does to them, rows left
// recording by a crash, expired skipped and conflicting rows, and the rows
// closed at shutdown. One per engine.
#ifndef TEV_ENGINE_ENGINEHOUSEKEEPING_H_
#define TEV_ENGINE_ENGINEHOUSEKEEPING_H_

#include <atomic>
#include <climits>
#include <cstdint>

class LibrarySync;
class DVR;
class MetadataEditor;
class PMutex;
class RecordingCompletion;
class Schedules;

class EngineHousekeeping {
 public:
  // `engine` (intake, the files being recorded), `recorder`, `engineLock`
  // (the groups of deletions and closes), `metadata` and `completion` (the
  // cancel of a recording) outlive this object.
  EngineHousekeeping(Schedules& engine, DVR& recorder, PMutex& engineLock, MetadataEditor& metadata,
                     RecordingCompletion& completion)
      : m_engine(engine),
        m_dvr(recorder),
        m_engineLock(engineLock),
        m_metadata(metadata),
        m_completion(completion) {}

  // Remembers which rows the previous run left (the highest ID now). Call
  // once, when the database is open and before any request is served.
  void NotePreviousRun();
  // " AND ID <= ?", for statements that must touch only the previous run's
  // rows, with PreviousRunLast() (its last ID) bound to the placeholder.
  static const char* PreviousRunCondition();
  int32_t PreviousRunLast() const { return m_previousRunLastId.load(); }
  // After a restart, for the previous run's rows whose window contains now:
  // a stream that still writes its file is adopted; a recording whose
  // stream has gone is closed and the rest recorded into a new row; a
  // scheduled row whose start was missed records the rest at once. Other
  // statuses are left alone. Rows still recording whose end has passed
  // are deleted (their stream stopped).
  void ResumeRecordings();
  // Deletes skipped and conflicting rows whose end is before `now`.
  void RemoveOldSchedules(int64_t now);
  // Closes rows still recording more than a minute after their end.
  void PruneOrphanedRecordings(int64_t now);
  // Once per engine (the first folder-monitor pass of a run): rows left
  // recording by a crash become partial.
  void ChangeRecordingToCompletePartial(int64_t now);
  // Closes every row in DVRSTATE_RECORDING (no stream is stopped).
  void StopAllRecordings(int64_t now);

 private:
  // The engine's publisher to the media library.
  LibrarySync& Library() const;
  Schedules& m_engine;
  DVR& m_dvr;
  PMutex& m_engineLock;
  MetadataEditor& m_metadata;
  RecordingCompletion& m_completion;
  // The highest row ID when the database was opened: rows up to it were
  // left by the previous run. Until it is known every row counts as such.
  std::atomic<int32_t> m_previousRunLastId{INT32_MAX};
  // Cleared by the first ChangeRecordingToCompletePartial.
  std::atomic<bool> m_orphanCleanupPending{true};
};

#endif  // TEV_ENGINE_ENGINEHOUSEKEEPING_H_
