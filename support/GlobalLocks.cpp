#include "support/GlobalLocks.h"

#include "platform/NoDestructor.h"

PMutex& EngineMutex() {
  static tev::NoDestructor<PMutex> mutex(true);
  return *mutex;
}

PMutex& StartingSetMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

PMutex& ThumbnailMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

namespace {
// Creates them all while the library loads, ahead of any start-up code.
[[maybe_unused]] const bool g_created = (EngineMutex(), StartingSetMutex(), ThumbnailMutex(), true);
}  // namespace
