// The schedules a conflict check or a season-pass run has changed and that
// must be republished afterwards: schedule id -> flag. Owned by the caller
// of the check, filled by it, read by the caller when it republishes.
#ifndef TEV_ENGINE_BUMPEDSET_H_
#define TEV_ENGINE_BUMPEDSET_H_

#include <cstdint>
#include <map>

typedef std::map<int32_t, int32_t> BumpedSet;

// Flag values.
constexpr int32_t kBumpedChanged = 1;     // skipped, stopped or set to conflict
constexpr int32_t kBumpedNewEpisode = 2;  // a season-pass episode just added

#endif  // TEV_ENGINE_BUMPEDSET_H_
