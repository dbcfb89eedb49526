#include "support/GlobalLocks.h"

#include "platform/NoDestructor.h"

PMutex& ThumbnailMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

PMutex& DatabaseMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

locker<std::map<std::wstring, long>>& StreamTable() {
  static tev::NoDestructor<locker<std::map<std::wstring, long>>> table;
  return *table;
}

namespace {
// Creates them all while the library loads, ahead of any start-up code.
[[maybe_unused]] const bool g_created = (ThumbnailMutex(), DatabaseMutex(),
                        StreamTable(), true);
}  // namespace
