#include "dvr/StopSignal.h"

#include <atomic>

namespace {
std::atomic<bool (*)()> g_source{nullptr};
}  // namespace

void SetStopSignalSource(bool (*source)()) { g_source = source; }

bool StopEventIsSet() {
  bool (*source)() = g_source.load();
  return source != nullptr && source();
}
