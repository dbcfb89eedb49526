// The one way to change a schedule's Status. Every change is checked
// against the table of db/StatusTransitions.h, written with the statement
// that table names for it, and published where the table says the setter
// publishes (through the engine's LibrarySync). Any thread; takes no lock beyond the database lock
// of each statement.
#ifndef TEV_ENGINE_STATUSCHANGE_H_
#define TEV_ENGINE_STATUSCHANGE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/StatusTransitions.h"

class LibrarySync;
class Schedule;

// What a change did. Converts to true when the row now holds the new state.
struct [[nodiscard]] StatusChange {
  bool written = false;  // the statement succeeded
  bool changed = false;  // written, and the row held another state before
  explicit operator bool() const { return written; }
};

// Moves `row` to `to` for `reason` at `now`.
// REQUIRES: `row` loaded (m_id set); for kStatusIfRecording only m_filePath
// is needed.
// - Refused (not in the table): logs "Schedule::SetStatus refused %s for
//   %d: %s -> %s" at ERROR, writes nothing, leaves `row` as it was.
// - Statement failed: the statement's error is logged with the table's
//   caller name; `row` keeps its old state.
// - Written: row.m_status is `to`. kCancel and kRecorderFinished first set
//   the end to `now`; kRetry sets the start to `now` and the end to now plus
//   the duration. Publishes the row when the table says so.
StatusChange SetScheduleStatus(LibrarySync& library, Schedule& row, const std::wstring& to,
                               int64_t now, StatusReason reason);

// The same for a set of rows chosen by one selection, written by one
// statement of the setter's own (the table's bulk form): only the rows in
// `rows` whose Status is still a from-state of the change. Rows whose
// change the table refuses are logged and dropped from `rows`. The rest
// get `to`, are published (each with AddMedium for StatusPublish::kRow,
// through `publish` for kCaller) and then written. True when the statement
// succeeded or no row was left.
[[nodiscard]] bool SetScheduleStatuses(
    LibrarySync& library, std::vector<Schedule>& rows, const std::wstring& to, int64_t now,
    StatusReason reason,
    const std::function<void(const std::vector<Schedule>&)>& publish = nullptr);

// Shows `row` to the media library as if it were in `shown`, a state that
// is not stored (the row keeps its own): what a cancelled plan or a
// resumed piece looks like before or without a change of state.
void PublishUnstoredStatus(LibrarySync& library, Schedule row, const std::wstring& shown,
                           bool flag);

#endif  // TEV_ENGINE_STATUSCHANGE_H_
