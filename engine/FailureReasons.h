// Why a recording failed, in words a user can act on ("the folder ... is not
// writable by user tev: Permission denied"), kept per schedule beside the
// Schedules table so that every later publication of the row still carries
// it (medium property "failureReason").
//
// Table "FailureReasons" (ScheduleId primary key, Reason): not part of the
// versioned schema; any database gets it on first use and an older module
// ignores it. Each operation takes only the database lock; a failed
// statement is logged and costs only the explanation.
#ifndef TEV_ENGINE_FAILUREREASONS_H_
#define TEV_ENGINE_FAILUREREASONS_H_

#include <cstdint>
#include <string>

namespace FailureReasons {

// Stores `reason` for the schedule, replacing an earlier one.
void Set(int32_t scheduleId, const std::wstring& reason);
// Forgets the schedule's reason (it records again).
void Clear(int32_t scheduleId);
// The stored reason, or empty.
std::wstring Get(int32_t scheduleId);
// Whether a row in this state may have a reason to show.
bool IsFailedState(const std::wstring& status);
// `reason` followed by what the streamer itself said about the failure,
// when it said anything.
std::wstring WithStreamerMessage(const std::wstring& reason, const std::wstring& streamerMessage);

}  // namespace FailureReasons

// Why a pending episode is not to be recorded ("not recorded: A (priority 1)
// and B use both tuners"), kept per schedule in table "ConflictReasons"
// (same shape as "FailureReasons") while the tuner plan leaves the row out;
// published as medium property "conflictReason".
namespace ConflictReasons {

void Set(int32_t scheduleId, const std::wstring& reason);
void Clear(int32_t scheduleId);
std::wstring Get(int32_t scheduleId);

}  // namespace ConflictReasons

#endif  // TEV_ENGINE_FAILUREREASONS_H_
