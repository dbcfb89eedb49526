#include "support/GlobalLocks.h"

#include "platform/NoDestructor.h"

PMutex& ThumbnailMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

namespace {
// Creates them all while the library loads, ahead of any start-up code.
[[maybe_unused]] const bool g_created = (ThumbnailMutex(), true);
}  // namespace
