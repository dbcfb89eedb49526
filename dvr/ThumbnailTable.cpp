#include "dvr/ThumbnailTable.h"

#include <exception>
#include <map>

#include "platform/NoDestructor.h"
#include "support/GlobalLocks.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

namespace {

// Guarded by ThumbnailMutex(). Never destroyed, like the mutex.
std::map<int32_t, bool>& Entries() {
  static tev::NoDestructor<std::map<int32_t, bool>> entries;
  return *entries;
}

}  // namespace

void SetThumbnailEntry(int32_t id, bool exists) {
  try {
    PMutexLock lock(ThumbnailMutex());
    Entries()[id] = exists;
  } catch (const std::exception&) {
    LogError(L"SetThumbnailEntry problem");
  }
}

bool GetThumbnailEntry(int32_t id) {
  try {
    PMutexLock lock(ThumbnailMutex());
    return Entries()[id];
  } catch (const std::exception&) {
    LogError(L"GetThumbnailEntry problem");
    return false;
  }
}

bool HasThumbnailEntry(int32_t id) {
  PMutexLock lock(ThumbnailMutex());
  return Entries().count(id) != 0;
}

void ClearThumbnailEntries() {
  PMutexLock lock(ThumbnailMutex());
  Entries().clear();
}
