// Which schedules have a thumbnail: a map from schedule id to a flag, held
// only in memory behind a lock of its own, held for one lookup or change.
// The recorder owns one; the folder monitor, recording completion and the
// thumbnail callbacks fill it, and publishing a schedule reads it.
#ifndef TEV_DVR_THUMBNAILTABLE_H_
#define TEV_DVR_THUMBNAILTABLE_H_

#include <cstdint>
#include <map>

#include "support/PMutex.h"
#include "support/PThreadAnnotations.h"

class ThumbnailTable {
 public:
  void Set(int32_t id, bool exists) TEV_EXCLUDES(m_mutex);
  // Reading an id that is not in the map adds it with false.
  bool Get(int32_t id) TEV_EXCLUDES(m_mutex);
  // True when the map holds the id (whatever its flag); adds nothing.
  bool Has(int32_t id) TEV_EXCLUDES(m_mutex);

 private:
  PMutex m_mutex{false};
  std::map<int32_t, bool> m_entries TEV_GUARDED_BY(m_mutex);
};

#endif  // TEV_DVR_THUMBNAILTABLE_H_
