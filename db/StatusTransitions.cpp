#include "db/StatusTransitions.h"

#include <cwchar>
#include <vector>

#include "db/Schedule.h"

namespace {

using R = StatusReason;
using W = StatusWrite;
using P = StatusPublish;

const wchar_t kField[] = L"Schedule::Update(id, field, value)";
const wchar_t kRowCaller[] = L"Schedule::Update";
const wchar_t kStarter[] = L"StartRecordingIfAppropriate";

std::vector<StatusTransition> Build() {
  std::vector<StatusTransition> t;
  using States = std::vector<const wchar_t*>;
  auto add = [&t](R reason, const States& from, const States& to, W write, P publish,
                  const wchar_t* caller) {
    for (const wchar_t* f : from) {
      for (const wchar_t* s : to) t.push_back({reason, f, s, write, publish, caller});
    }
  };
  // A retry puts a row back whatever became of it, except while its
  // stream is still being written.
  States notRecording;
  for (const wchar_t* state : AllStatusNames()) {
    if (std::wcscmp(state, DVRSTATE_RECORDING) != 0) notRecording.push_back(state);
  }

  // Conflicts: the bumped set republishes what the check changed.
  add(R::kConflictCheck, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, DVRSTATE_SKIP},
      {DVRSTATE_CONFLICT}, W::kStatus, P::kCaller, kField);
  add(R::kBumped, {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT}, {DVRSTATE_SKIP},
      W::kStatus, P::kCaller, kField);
  add(R::kConflictUpdate, {DVRSTATE_CONFLICT, DVRSTATE_SKIP}, {DVRSTATE_SCHEDULED}, W::kStatus,
      P::kReloaded, kField);
  add(R::kReplanned, {DVRSTATE_CONFLICT}, {DVRSTATE_SCHEDULED}, W::kStatus, P::kCaller, kField);
  add(R::kForced, {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT}, {DVRSTATE_SCHEDULED},
      W::kStatus, P::kReloaded, kField);
  // A recording in the way is only marked; it goes on until its own end.
  add(R::kForcedAside, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING}, {DVRSTATE_SKIP}, W::kStatus,
      P::kRow, kField);

  // Start: the library is shown the row once the streamer has answered.
  add(R::kDiskFull, {DVRSTATE_SCHEDULED}, {DVRSTATE_DISK_FULL}, W::kStatus, P::kCaller, kField);
  add(R::kStart, {DVRSTATE_SCHEDULED}, {DVRSTATE_RECORDING}, W::kStatus, P::kCaller, kStarter);
  add(R::kStartOutcome, {DVRSTATE_RECORDING},
      {DVRSTATE_MCE_RUNNING, DVRSTATE_TUNER_BUSY, DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_ERROR},
      W::kStatus, P::kNone, kStarter);
  add(R::kStartNewFile, {DVRSTATE_RECORDING},
      {DVRSTATE_RECORDING, DVRSTATE_MCE_RUNNING, DVRSTATE_TUNER_BUSY, DVRSTATE_COULD_NOT_CONNECT,
       DVRSTATE_ERROR},
      W::kStatusAndPath, P::kNone, kStarter);

  // Time passed: one batch publishes all of them.
  add(R::kMissed, {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT}, {DVRSTATE_RETRY},
      W::kRow, P::kCaller, kRowCaller);
  add(R::kMissed, {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT}, {DVRSTATE_MISSED},
      W::kBulk, P::kCaller, L"ChangePastScheduledToMissed");

  // The streamer's reports. A finished report finds its row by the file; a
  // row that never started still gets it, one already closed does not (the
  // stream ran on past a cancel or a restart).
  add(R::kRecorderFailed, {DVRSTATE_RECORDING}, {DVRSTATE_ERROR}, W::kStatusIfRecording,
      P::kCaller, L"Schedules::NotifyRecordFailedAsync");
  add(R::kRecorderFinished,
      {DVRSTATE_RECORDING, DVRSTATE_MCE_RUNNING, DVRSTATE_TUNER_BUSY, DVRSTATE_COULD_NOT_CONNECT},
      {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_ERROR}, W::kRow, P::kCaller,
      kRowCaller);

  // The user, restarts and shutdown.
  // Published here: the stream's end report leaves a closed row alone, so
  // the library would not hear of the end otherwise.
  add(R::kCancel, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, W::kRow, P::kRow,
      kRowCaller);
  add(R::kRetry, notRecording, {DVRSTATE_SCHEDULED}, W::kRow, P::kNone, kRowCaller);
  // A restart resumes only what was recording (closed by the shutdown or
  // not); every other row keeps its state.
  add(R::kResume, {DVRSTATE_RECORDING, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY},
      {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, W::kRow, P::kCaller, kRowCaller);
  add(R::kAdopt, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, {DVRSTATE_RECORDING}, W::kRow,
      P::kRow, kRowCaller);
  add(R::kOrphan, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE}, W::kBulk, P::kRow,
      L"Schedules::PruneOrphanedRecordings");
  add(R::kCrashRecovery, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, W::kBulkLengthUnknown,
      P::kRow,
      L"Schedules::ChangeRecordingToCompletePartial");
  add(R::kShutdown, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, W::kRow,
      P::kNone, kRowCaller);
  // A person's edits and deletions in the media library: the library shows
  // them already, so nothing is published here.
  const States pending{DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT};
  add(R::kLibraryEdit, pending, pending, W::kStatus, P::kNone, kField);
  add(R::kLibraryRemoved, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, W::kStatus, P::kNone,
      kField);
  add(R::kLibraryRemoved, pending, {DVRSTATE_DELETED}, W::kStatus, P::kNone, kField);
  for (const wchar_t* finished :
       {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_ERROR, DVRSTATE_COULD_NOT_CONNECT,
        DVRSTATE_TUNER_BUSY, DVRSTATE_MCE_RUNNING, DVRSTATE_MISSED, DVRSTATE_DISK_FULL,
        DVRSTATE_RETRY, DVRSTATE_DELETED}) {
    add(R::kLibraryRemoved, {finished}, {finished}, W::kStatus, P::kNone, kField);
  }
  return t;
}

}  // namespace

const std::vector<StatusTransition>& StatusTransitions() {
  // A plain static: freed when the library unloads, after every thread ended.
  static const std::vector<StatusTransition> table(Build());
  return table;
}

const StatusTransition* FindStatusTransition(StatusReason reason, const std::wstring& from,
                                             const std::wstring& to) {
  for (const StatusTransition& t : StatusTransitions()) {
    if (t.reason == reason && from == t.from && to == t.to) return &t;
  }
  return nullptr;
}

const wchar_t* StatusReasonName(StatusReason reason) {
  switch (reason) {
    case R::kConflictCheck: return L"kConflictCheck";
    case R::kBumped: return L"kBumped";
    case R::kConflictUpdate: return L"kConflictUpdate";
    case R::kReplanned: return L"kReplanned";
    case R::kForced: return L"kForced";
    case R::kForcedAside: return L"kForcedAside";
    case R::kDiskFull: return L"kDiskFull";
    case R::kStart: return L"kStart";
    case R::kStartOutcome: return L"kStartOutcome";
    case R::kStartNewFile: return L"kStartNewFile";
    case R::kMissed: return L"kMissed";
    case R::kRecorderFailed: return L"kRecorderFailed";
    case R::kRecorderFinished: return L"kRecorderFinished";
    case R::kCancel: return L"kCancel";
    case R::kRetry: return L"kRetry";
    case R::kResume: return L"kResume";
    case R::kOrphan: return L"kOrphan";
    case R::kCrashRecovery: return L"kCrashRecovery";
    case R::kShutdown: return L"kShutdown";
    case R::kAdopt: return L"kAdopt";
    case R::kLibraryEdit: return L"kLibraryEdit";
    case R::kLibraryRemoved: return L"kLibraryRemoved";
  }
  return L"?";
}

const std::vector<const wchar_t*>& AllStatusNames() {
  static const std::vector<const wchar_t*> names{
      DVRSTATE_SCHEDULED,  DVRSTATE_RECORDING,      DVRSTATE_COMPLETE,
      DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_CONFLICT, DVRSTATE_SKIP,
      DVRSTATE_ERROR,      DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_TUNER_BUSY,
      DVRSTATE_MCE_RUNNING, DVRSTATE_MISSED,        DVRSTATE_DISK_FULL,
      DVRSTATE_RETRY,      DVRSTATE_DELETED};
  return names;
}
