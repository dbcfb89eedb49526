#include "support/PEvent.h"

#include "platform/Clock.h"
#include "platform/Env.h"
#include "support/PMutexLock.h"

struct timespec PEventDeadline(int64_t nowMs, unsigned int ms) {
  struct timespec deadline;
  deadline.tv_sec = static_cast<time_t>(nowMs / 1000);
  deadline.tv_nsec = static_cast<long>((nowMs % 1000) * 1000000);
  deadline.tv_sec += static_cast<time_t>(ms / 1000);
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

PEvent::PEvent(bool set) : set_(set) {}

void PEvent::Set() {
  PMutexLock lock(this);
  set_.store(true);
  broadcast();
}

void PEvent::Reset() {
  PMutexLock lock(this);
  set_.store(false);
}

bool PEvent::Wait(unsigned int ms) {
  PMutexLock lock(this);
  // pthread_cond_timedwait measures the real clock, so the deadline must
  // come from it too, not from the shiftable product clock.
  const struct timespec deadline = PEventDeadline(tev::Clock::RealNowMs(), ms);
  for (;;) {
    if (set_.load()) return true;
    int rc = timedwait(deadline);
    if (rc == PTHREAD_TIMEDOUT_CODE) return false;
    if (rc != 0) return set_.load();  // EINVAL and the like: never spin
  }
}

bool tev::Env::WaitForEvent(PEvent& event, int64_t ms) {
  return event.Wait(ms < 0 ? 0u : static_cast<unsigned int>(ms));
}
