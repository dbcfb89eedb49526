// What a schedule row remembers of the user's decisions beyond its own
// record, in the side table EpisodeMarks (one row per marked schedule):
//
// - AiringStart: the start of the airing the row was made for, in database
//   time, once the row's own start has moved away from it (a user moved it,
//   or a programme on air was taken from the moment it was found). Absent
//   while StartTime is the airing's start. An airing is its channel and
//   that start, so a moved episode is still the same airing: deleted, it is
//   not added again; kept, it stays what the user made it.
// - SkippedByUser: 1 while the row is skipped because the user said so, so
//   that a freed tuner does not schedule it again.
#ifndef TEV_DB_EPISODEMARKS_H_
#define TEV_DB_EPISODEMARKS_H_

#include <cstdint>

class SQLite;

namespace EpisodeMarks {

// SQL expression, inside a statement on Schedules: the start of the airing
// the row stands for.
extern const char kAiringStart[];
// SQL condition, inside a statement on Schedules: the row is not a skip the
// user chose.
extern const char kNotSkippedByUser[];

// Makes the table when missing and forgets the marks of rows that are gone.
// Run once when the database is opened; false when the table cannot be made
// (the statements above then fail and log, and the next start tries again).
bool Prepare(SQLite& query);

// Before the row's start moves: keeps its present start as its airing's,
// unless it remembers one already. False when the statement failed.
bool RememberAiring(int32_t scheduleId);
// The row stands for the airing that starts at `airingStart`.
bool SetAiring(int32_t scheduleId, int64_t airingStart);
// Marks or clears a skip the user chose.
bool SetSkippedByUser(int32_t scheduleId, bool skipped);

}  // namespace EpisodeMarks

#endif  // TEV_DB_EPISODEMARKS_H_
