// Which schedules have a thumbnail: a process-wide map from schedule id to
// a flag, held only in memory and behind a lock of its own, held for one
// lookup or change. Filled by the folder monitor, recording completion and
// the thumbnail callbacks; read when a schedule is published.
#ifndef TEV_DVR_THUMBNAILTABLE_H_
#define TEV_DVR_THUMBNAILTABLE_H_

#include <cstdint>

void SetThumbnailEntry(int32_t id, bool exists);
// Reading an id that is not in the map adds it with false.
bool GetThumbnailEntry(int32_t id);
// True when the map holds the id (whatever its flag); adds nothing.
bool HasThumbnailEntry(int32_t id);
// Empties the map (tests: a process starts with it empty).
void ClearThumbnailEntries();

#endif  // TEV_DVR_THUMBNAILTABLE_H_
