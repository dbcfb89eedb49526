// Helpers of the operations that publish many rows at once (one "AddMedia"
// request, through LibrarySync).
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

// Runs *step when it is set and clears it, so that it runs once whichever
// of several places reaches it first. Nothing for null.
void RunPending(std::function<void()>* step);
// The schedules of the set that still exist, in ID order, read in one
// statement.
std::vector<Schedule> LoadBumped(const BumpedSet& bumped, const wchar_t* caller);

#endif  // TEV_ENGINE_MEDIABATCH_H_
