#include "support/StandByWaitableTimer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

namespace {

// The longest single sleep, so that cancellation is seen within a second.
constexpr int64_t kSliceMs = 1000;

struct itimerspec AbsoluteAt(int64_t realMs) {
  struct itimerspec at = {};
  at.it_value.tv_sec = realMs / 1000;
  at.it_value.tv_nsec = (realMs % 1000) * 1000000;
  if (at.it_value.tv_sec == 0 && at.it_value.tv_nsec == 0) at.it_value.tv_nsec = 1;
  return at;
}

void Drain(int fd) {
  uint64_t count;
  while (read(fd, &count, sizeof count) == sizeof count) {
  }
}

}  // namespace

StandByWaitableTimer::StandByWaitableTimer() { tev::Env::AddClockMovedListener(this); }

StandByWaitableTimer::~StandByWaitableTimer() {
  tev::Env::RemoveClockMovedListener(this);
  ReleaseHandles();
}

void StandByWaitableTimer::Interrupt() {
  const int fd = wakeFd_.load();
  if (fd < 0) return;
  const uint64_t one = 1;
  (void)!write(fd, &one, sizeof one);
}

void StandByWaitableTimer::ReleaseHandles() {
  PMutexLock lock(*this);
  if (alarmFd_ >= 0 && alarmFd_ != plainFd_) close(alarmFd_);
  if (plainFd_ >= 0) close(plainFd_);
  alarmFd_ = plainFd_ = -1;
  const int wake = wakeFd_.exchange(-1);
  if (wake >= 0) close(wake);
  armed_ = false;
}

bool StandByWaitableTimer::CreateHandlesLocked() {
  if (wakeFd_.load() < 0) wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (plainFd_ < 0) {
    plainFd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (plainFd_ < 0) return false;
  }
  if (alarmFd_ < 0) {
    // Waking a suspended machine needs CAP_WAKE_ALARM (and an RTC).
    alarmFd_ = timerfd_create(CLOCK_REALTIME_ALARM, TFD_NONBLOCK | TFD_CLOEXEC);
    haveAlarmClock_ = alarmFd_ >= 0;
    if (haveAlarmClock_) {
      LogInfo(L"[StandByWaitableTimer] using CLOCK_REALTIME_ALARM: due times wake the computer "
              L"from stand by");
    } else if (errno == EPERM) {
      // Said once per start: the operator's unit lacks the capability.
      LogWarn(L"[StandByWaitableTimer] running without CAP_WAKE_ALARM: recordings do not wake "
              L"the computer from stand by");
      alarmFd_ = plainFd_;
    } else {
      LogInfo(L"[StandByWaitableTimer] CLOCK_REALTIME_ALARM unavailable (errno %d), using "
              L"CLOCK_REALTIME: due times do not wake the computer from stand by",
              errno);
      alarmFd_ = plainFd_;
    }
  }
  return wakeFd_.load() >= 0;
}

void StandByWaitableTimer::setTimer(int32_t milliseconds, bool resume) {
  LogInfo(L"[StandByWaitableTimer::setTimer] forceResume if computer is in stand by");
  PMutexLock lock(*this);
  if (!CreateHandlesLocked()) {
    LogError(L"[StandByWaitableTimer::setTimer] error setting WaitableTimer. Last Error: %d",
             errno);
    return;
  }
  const int64_t delayMs = milliseconds < 0 ? 0 : milliseconds == 0 ? 2000 : milliseconds;
  const int armFd = resume ? alarmFd_ : plainFd_;
  const int idleFd = resume ? plainFd_ : alarmFd_;
  const struct itimerspec at = AbsoluteAt(tev::Clock::RealNowMs() + delayMs);
  if (timerfd_settime(armFd, TFD_TIMER_ABSTIME, &at, nullptr) != 0) {
    LogError(L"[StandByWaitableTimer::setTimer] error setting WaitableTimer. Last Error: %d",
             errno);
    return;
  }
  if (idleFd != armFd) {
    const struct itimerspec off = {};
    timerfd_settime(idleFd, 0, &off, nullptr);
  }
  dueMs_ = tev::Clock::NowMs() + delayMs;
  resume_ = resume;
  armed_ = true;
  broadcast();
  Interrupt();
}

bool StandByWaitableTimer::waitForAlarm() {
  LogDebug(L"[StandByWaitableTimer::waitForAlarm]");
  PMutexLock guard(*this);
  for (;;) {
    if (cancelled_) {
      LogDebug(L"[StandByWaitableTimer::waitForAlarm] returning");
      return false;
    }
    LogDebug(L"[StandByWaitableTimer::waitForAlarm] not canceled");
    if (armed_) break;
    LogDebug(L"[StandByWaitableTimer::waitForAlarm] timer not armed");
    wait();
  }
  LogDebug(L"[StandByWaitableTimer::waitForAlarm] armed");
  LogDebug(L"[StandByWaitableTimer::waitForAlarm] WaitForSingleObject");
  while (!cancelled_) {
    const int64_t remaining = dueMs_ - tev::Clock::NowMs();
    if (remaining <= 0) break;
    struct pollfd fds[2] = {{resume_ ? alarmFd_ : plainFd_, POLLIN, 0},
                            {wakeFd_.load(), POLLIN, 0}};
    unlock();
    poll(fds, 2, static_cast<int>(std::min(remaining, kSliceMs)));
    // The due instant is judged by the product clock; the fds only end the
    // slice early (real expiry, a new due time, a clock shift, cancel).
    if (fds[0].revents & POLLIN) Drain(fds[0].fd);
    if (fds[1].revents & POLLIN) Drain(fds[1].fd);
    lock();
  }
  LogDebug(L"[StandByWaitableTimer::waitForAlarm] WaitForSingleObject done waiting");
  armed_ = false;
  LogDebug(L"[StandByWaitableTimer::waitForAlarm] returning");
  return !cancelled_;
}

void StandByWaitableTimer::cancel() {
  PMutexLock lock(*this);
  cancelled_ = true;
  broadcast();
  Interrupt();
}

void StandByWaitableTimer::Reopen() {
  PMutexLock lock(*this);
  cancelled_ = false;
  armed_ = false;
}

bool StandByWaitableTimer::IsArmed() {
  PMutexLock lock(*this);
  return armed_;
}

int64_t StandByWaitableTimer::RemainingMs() {
  PMutexLock lock(*this);
  return dueMs_ - tev::Clock::NowMs();
}

bool StandByWaitableTimer::ArmedForResume() {
  PMutexLock lock(*this);
  return resume_;
}
