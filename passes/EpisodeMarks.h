// What a schedule row remembers of the user's decisions beyond its own
// record, in two Schedules columns that nothing else uses (the padding in
// force comes from the Config table, so the rows' StartPadding and
// EndPadding are free):
//
// - StartPadding: the start of the airing the row was made for, in
//   database time, once the row's own start has moved away from it (a user
//   moved it, or a programme on air was taken from the moment it was
//   found). NULL while StartTime is the airing's start. An airing is its
//   channel and that start, so a moved episode is still the same airing:
//   deleted, it is not added again; kept, it stays what the user made it.
// - EndPadding: 1 while the row is skipped because the user said so, so
//   that a freed tuner does not schedule it again. NULL or 0 otherwise.
#ifndef TEV_PASSES_EPISODEMARKS_H_
#define TEV_PASSES_EPISODEMARKS_H_

#include <cstdint>

namespace EpisodeMarks {

// SQL expression: the start of the airing a Schedules row stands for.
extern const wchar_t kAiringStart[];
// SQL condition: the row is not a skip the user chose.
extern const wchar_t kNotSkippedByUser[];

// Before the row's start moves: keeps its present start as its airing's,
// unless it remembers one already. False when the statement failed.
bool RememberAiring(int32_t scheduleId);
// The row stands for the airing that starts at `airingStart`.
bool SetAiring(int32_t scheduleId, int64_t airingStart);
// Marks or clears a skip the user chose.
bool SetSkippedByUser(int32_t scheduleId, bool skipped);

}  // namespace EpisodeMarks

#endif  // TEV_PASSES_EPISODEMARKS_H_
