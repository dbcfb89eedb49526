// A non-recursive mutex with one condition variable (default attributes,
// so timed waits measure CLOCK_REALTIME, the real system clock).
#ifndef TEV_SUPPORT_PCONDMUTEX_H_
#define TEV_SUPPORT_PCONDMUTEX_H_

#include <pthread.h>
#include <time.h>

#include "support/PMutex.h"

// What timedwait returns when the deadline passed. Callers compare with
// this value (the timed-out code of the pthreads library the module was
// built for), so ETIMEDOUT is mapped to it.
constexpr int PTHREAD_TIMEDOUT_CODE = 10060;

class PCondMutex : public PMutex {
 public:
  PCondMutex();
  ~PCondMutex() override;

  // Waits for a broadcast or signal; may also wake spuriously.
  // REQUIRES: the caller holds this mutex. Returns the pthread result.
  int wait() TEV_REQUIRES(this);
  // Waits until the absolute CLOCK_REALTIME instant `deadline`.
  // REQUIRES: the caller holds this mutex. Returns 0 when woken,
  // PTHREAD_TIMEDOUT_CODE when the deadline passed, else the pthread error.
  int timedwait(const struct timespec& deadline) TEV_REQUIRES(this);
  // Wakes every waiter / one waiter. Callable with or without the mutex.
  void broadcast();
  void signal();

 protected:
  pthread_cond_t cond_;
};

#endif  // TEV_SUPPORT_PCONDMUTEX_H_
