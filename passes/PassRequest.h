// What a new pass's first search reports when it cannot take every airing:
// plain values, which the bus writes in its own form.
#ifndef TEV_PASSES_PASSREQUEST_H_
#define TEV_PASSES_PASSREQUEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Requests.h"

// One airing of the pass's programme and what the conflict check answered
// for it.
struct EpisodeConflict {
  std::wstring title;
  std::wstring channelName;
  int64_t start = 0;     // UTC seconds since 1970
  int32_t duration = 0;  // seconds
  std::wstring episodeTitle;
  ScheduleAnswer conflicts;
};

// The airings a pass could not take, in guide order; empty when it took
// them all.
typedef std::vector<EpisodeConflict> PassConflictReport;

#endif  // TEV_PASSES_PASSREQUEST_H_
