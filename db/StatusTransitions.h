// A schedule's life: every change of a row's Status that the module makes,
// as a table. engine/StatusChange.h is the one function that applies a
// change; it refuses any (reason, from, to) that is not listed here, so
// this table is the rule, not a description of it.
//
//   (new) --intake / season-pass checker--> SCHEDULED, or RECORDING when it
//         records at once; a pass episode may start as SKIP or CONFLICT;
//         rows found on disk come in with type "Recovered" (INSERT, not a
//         change)
//   SCHEDULED/RECORDING/SKIP --conflict check--> CONFLICT
//   SCHEDULED/SKIP/CONFLICT  --bumped by a pass--> SKIP
//   CONFLICT/SKIP --conflict update--> SCHEDULED
//   any --forced--> SCHEDULED; SCHEDULED/RECORDING in its way --> SKIP
//   SCHEDULED --no room on disk--> DISK_FULL
//   SCHEDULED --> RECORDING (before the streamer is asked), then on a
//         failed start RECORDING --> MCE_RUNNING, TUNER_BUSY,
//         COULD_NOT_CONNECT or ERROR (or any of these, RECORDING
//         included, with the new file the streamer chose)
//   SCHEDULED/SKIP/CONFLICT --time passed--> MISSED (RETRY with an
//         episode address)
//   RECORDING --streamer failed--> ERROR
//   RECORDING, or one that never started (MCE_RUNNING, TUNER_BUSY,
//         COULD_NOT_CONNECT), found by its file --streamer finished-->
//         COMPLETE, COMPLETE_PARTIAL or ERROR; a closed row keeps its state
//   RECORDING --cancelled--> COMPLETE_PARTIAL
//   any --retried--> SCHEDULED
//   RECORDING, or COMPLETE_PARTIAL/RETRY closed by a shutdown while its
//         stream went on, whose window holds the restart --resumed-->
//         COMPLETE_PARTIAL/RETRY (the rest goes into a new row), or, when
//         the stream still writes, COMPLETE_PARTIAL/RETRY --adopted-->
//         RECORDING
//   RECORDING --ended over a minute ago--> COMPLETE (orphan)
//   RECORDING --left by the previous process--> COMPLETE_PARTIAL
//   RECORDING --shutdown--> COMPLETE_PARTIAL / RETRY
//   SCHEDULED/SKIP/CONFLICT --edited in the library--> SCHEDULED/SKIP/
//         CONFLICT (skip, schedule again, moved, a refused move undone)
//   deleted in the library: RECORDING --> COMPLETE_PARTIAL, a pending pass
//         episode --> DELETED, a finished row keeps its state (written back)
//   any --pass episode removed by the user--> DELETED
//
// Rows leave the table (DELETE, not a change) when the user removes them,
// when old DELETED, SKIP and CONFLICT rows expire, when their files are
// deleted for space or found gone.
#ifndef TEV_DB_STATUSTRANSITIONS_H_
#define TEV_DB_STATUSTRANSITIONS_H_

#include <string>
#include <vector>

// Why a row's Status changes; each names the operation that makes it.
enum class StatusReason {
  kConflictCheck,     // CheckForScheduleConflicts: displaced by a higher pass
  kBumped,            // CheckForScheduleConflicts: skipped for a pass
  kConflictUpdate,    // UpdateConflicts: nothing blocks it any more
  kReplanned,         // a re-plan of the tuners found room for it again
  kForced,            // ForceSchedule: the forced row
  kForcedAside,       // ForceSchedule: a row in the forced row's way
  kDiskFull,          // ClearDiskSpaceForSchedule
  kStart,             // StartRecordingIfAppropriate, before the streamer
  kStartOutcome,      // StartRecordingIfAppropriate, the streamer's answer
  kStartNewFile,      // the same, when the streamer chose another file
  kMissed,            // ChangePastScheduledToMissed
  kRecorderFailed,    // NotifyRecordFailedAsync
  kRecorderFinished,  // NotifyRecordComplete
  kCancel,            // CancelScheduledRecording of a running recording
  kRetry,             // RetrySchedule
  kResume,            // ResumeRecordings
  kOrphan,            // PruneOrphanedRecordings
  kCrashRecovery,     // ChangeRecordingToCompletePartial
  kShutdown,          // StopAllRecordings
  kAdopt,             // ResumeRecordings: the stream still writes its file
  kLibraryEdit,       // UpdateMedium: a person's skip, schedule or move
  kLibraryRemoved,    // RemoveRecording: a person deleted the medium
  kUserRemoved,       // a pass episode removed by the user
};

// How the change is written: each is the statement of that operation.
enum class StatusWrite {
  // "UPDATE Schedules SET Status = '%s' WHERE ID = %d"
  kStatus,
  // "UPDATE Schedules SET Status = '%s', FilePath = '%s' WHERE ID = %d"
  // (the row's m_filePath)
  kStatusAndPath,
  // Schedule::Update(): the whole row, with its other changed fields.
  kRow,
  // "UPDATE Schedules SET Status = '%s' WHERE Status = 'DVRSTATE_RECORDING'
  // AND FilePath = '%s'" (the row's m_filePath; the row need not be loaded)
  kStatusIfRecording,
  // One statement for a selected set of rows (SetScheduleStatuses).
  kBulk,
};

// Who shows the change to the media library.
enum class StatusPublish {
  kReloaded,  // the setter reloads the row after the write and publishes it
  kRow,       // the setter publishes the row as passed, after the write
  kCaller,    // the caller, after steps of its own (bumped set, batch, ...)
  kNone,      // not published here (a later report or sync carries it)
};

struct StatusTransition {
  StatusReason reason;
  const wchar_t* from;  // nullptr: any state
  const wchar_t* to;
  StatusWrite write;
  StatusPublish publish;
  const wchar_t* caller;  // names the operation in a failed statement's log
};

// Every allowed change, in the order of the life above.
const std::vector<StatusTransition>& StatusTransitions();
// The entry allowing `from` -> `to` for `reason`; nullptr when refused.
const StatusTransition* FindStatusTransition(StatusReason reason, const std::wstring& from,
                                             const std::wstring& to);
// The reason's name ("kConflictCheck", ...) for log lines and tests.
const wchar_t* StatusReasonName(StatusReason reason);
// Every state name of the Status column.
const std::vector<const wchar_t*>& AllStatusNames();

#endif  // TEV_DB_STATUSTRANSITIONS_H_
