#include "platform/DueTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace tev {

DueTimer::DueTimer() { fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC); }

DueTimer::~DueTimer() {
  if (fd_ >= 0) ::close(fd_);
}

void DueTimer::SetAfterMs(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  dueMs_ = Clock::NowMs() + milliseconds;
  if (fd_ < 0) return;
  const int64_t realMs = Clock::RealNowMs() + milliseconds;
  struct itimerspec at = {};
  at.it_value.tv_sec = realMs / 1000;
  at.it_value.tv_nsec = (realMs % 1000) * 1000000;
  timerfd_settime(fd_, TFD_TIMER_ABSTIME, &at, nullptr);
}

bool DueTimer::IsDue() const { return MsUntilDue() == 0; }

int64_t DueTimer::MsUntilDue() const {
  const int64_t due = dueMs_.load();
  if (due == kNever) return -1;
  const int64_t left = due - Clock::NowMs();
  return left > 0 ? left : 0;
}

void DueTimer::Drain() {
  if (fd_ < 0) return;
  uint64_t expirations;
  while (::read(fd_, &expirations, sizeof expirations) == sizeof expirations) {
  }
}

}  // namespace tev
