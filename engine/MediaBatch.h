// Publishing several schedules to the media library in one "AddMedia"
// request, for the operations that change many rows at once.
#ifndef TEV_ENGINE_MEDIABATCH_H_
#define TEV_ENGINE_MEDIABATCH_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "engine/BumpedSet.h"

class Schedule;

// Records per request where many rows go out at once (adopted files, the
// start-up sync): a record is about 2 KB, so each request stays well inside
// the bus's payload limit.
constexpr size_t kRecordsPerPublication = 100;

// Nothing is sent for an empty list. Rows whose property list cannot be
// built are left out (ERROR logged). `meanwhile` (may be null) runs while
// the library answers, or at once when nothing is sent (RunPending).
// `justLoaded` as AddMediumPrepare's.
void PublishSchedules(const std::vector<Schedule>& rows, bool flag,
                      std::function<void()>* meanwhile = nullptr, bool justLoaded = false);
// Runs *step when it is set and clears it, so that it runs once whichever
// of several places reaches it first. Nothing for null.
void RunPending(std::function<void()>* step);
// The schedules of the set that still exist, in ID order, read in one
// statement.
std::vector<Schedule> LoadBumped(const BumpedSet& bumped, const wchar_t* caller);
// Loads every schedule of the set that still exists and publishes them.
void PublishBumped(const BumpedSet& bumped);

#endif  // TEV_ENGINE_MEDIABATCH_H_
