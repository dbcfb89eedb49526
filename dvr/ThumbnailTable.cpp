#include "dvr/ThumbnailTable.h"

#include <exception>
#include <map>

#include "platform/NoDestructor.h"
#include "support/Log.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// Process-wide because a schedule is published from the state setter and
// the folder monitors, which reach no recorder. Never destroyed: threads
// still running at exit may publish.
struct Registry {
  PMutex mutex{false};
  std::map<int32_t, bool> entries;  // guarded by mutex, held for one lookup or change
};

Registry& TheRegistry() {
  static tev::NoDestructor<Registry> registry;
  return *registry;
}

}  // namespace

void SetThumbnailEntry(int32_t id, bool exists) {
  Registry& registry = TheRegistry();
  try {
    PMutexLock lock(registry.mutex);
    registry.entries[id] = exists;
  } catch (const std::exception&) {
    LogError(L"SetThumbnailEntry problem");
  }
}

bool GetThumbnailEntry(int32_t id) {
  Registry& registry = TheRegistry();
  try {
    PMutexLock lock(registry.mutex);
    return registry.entries[id];
  } catch (const std::exception&) {
    LogError(L"GetThumbnailEntry problem");
    return false;
  }
}

bool HasThumbnailEntry(int32_t id) {
  Registry& registry = TheRegistry();
  PMutexLock lock(registry.mutex);
  return registry.entries.count(id) != 0;
}

void ClearThumbnailEntries() {
  Registry& registry = TheRegistry();
  PMutexLock lock(registry.mutex);
  registry.entries.clear();
}
