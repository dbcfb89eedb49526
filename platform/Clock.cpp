#include "platform/Clock.h"

#include <atomic>
#include <chrono>

namespace tev {

namespace {
std::atomic<int64_t> g_shift_seconds{0};
std::atomic<void (*)()> g_shift_listener{nullptr};

void NotifyShift() {
  if (auto listener = g_shift_listener.load()) listener();
}
}  // namespace

int64_t Clock::RealNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t Clock::NowMs() { return RealNowMs() + g_shift_seconds.load() * 1000; }

int64_t Clock::Now() {
  int64_t ms = NowMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

void Clock::Shift(int64_t seconds) {
  g_shift_seconds += seconds;
  NotifyShift();
}
void Clock::ResetShift() {
  g_shift_seconds = 0;
  NotifyShift();
}
void Clock::SetShiftListener(void (*listener)()) { g_shift_listener = listener; }
int64_t Clock::ShiftSeconds() { return g_shift_seconds.load(); }

}  // namespace tev
