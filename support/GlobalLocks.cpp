#include "support/GlobalLocks.h"

PMutex& EngineMutex() {
  static PMutex* mutex = new PMutex(true);
  return *mutex;
}

PMutex& StartingSetMutex() {
  static PMutex* mutex = new PMutex(false);
  return *mutex;
}

PMutex& ThumbnailMutex() {
  static PMutex* mutex = new PMutex(false);
  return *mutex;
}

PMutex& DatabaseMutex() {
  static PMutex* mutex = new PMutex(false);
  return *mutex;
}

locker<std::map<std::wstring, long>>& StreamTable() {
  static auto* table = new locker<std::map<std::wstring, long>>();
  return *table;
}

namespace {
// Creates them all while the library loads, ahead of any start-up code.
[[maybe_unused]] const bool g_created = (EngineMutex(), StartingSetMutex(), ThumbnailMutex(), DatabaseMutex(),
                        StreamTable(), true);
}  // namespace
