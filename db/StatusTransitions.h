// A schedule's life: every change of a row's Status that the module makes,
// as a table (db/StatusTransitions.cpp, grouped by the part of the engine
// that makes each change). engine/StatusChange.h is the one function that
// applies a change; it refuses any (reason, from, to) that is not listed,
// so the table is the rule, not a description of it, and the only drawing
// of the life there is.
//
// Rows come in by INSERT (intake, the season-pass checker, files found on
// disk) and leave by DELETE (removed by the user, expired, their files
// deleted or gone); neither is a change of state.
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
};

// How the change is written: each is the statement of that operation.
enum class StatusWrite {
  // "UPDATE Schedules SET Status = '%s' WHERE ID = %d"
  kStatus,
  // "UPDATE Schedules SET Status = '%s', FilePath = '%s' WHERE ID = %d"
  // (the row's m_filePath)
  kStatusAndPath,
  // Schedule::Update() (every other field of the row), then the Status as
  // kStatus, in one transaction.
  kRow,
  // "UPDATE Schedules SET Status = '%s' WHERE Status = 'DVRSTATE_RECORDING'
  // AND FilePath = '%s'" (the row's m_filePath; the row need not be loaded)
  kStatusIfRecording,
  // One statement for a selected set of rows (SetScheduleStatuses):
  // "UPDATE Schedules SET Status = ? WHERE ID IN (...) AND Status IN (...)",
  // the entry's from-states; a row changed since its selection is left.
  kBulk,
  // The same, also setting Duration to -1: the length of a recording cut
  // short by a crash is unknown.
  kBulkLengthUnknown,
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
  const wchar_t* from;
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
