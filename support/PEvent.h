// A manual-reset event: once Set, every Wait returns true until Reset.
// The module's stop signal is one of these.
#ifndef TEV_SUPPORT_PEVENT_H_
#define TEV_SUPPORT_PEVENT_H_

#include <time.h>

#include <atomic>
#include <cstdint>

#include "support/PCondMutex.h"

// The absolute deadline `ms` milliseconds after `nowMs` (milliseconds since
// 1970 on CLOCK_REALTIME): the seconds and nanoseconds of now plus
// ms / 1000 seconds and (ms % 1000) milliseconds, carrying into the seconds.
// With now at ...700 ms and ms = 1500 the deadline is 2 s + 200 ms after
// the whole second of now.
struct timespec PEventDeadline(int64_t nowMs, unsigned int ms);

class PEvent : public PCondMutex {
 public:
  explicit PEvent(bool set = false);

  void Set();
  void Reset();
  // Reads the flag without taking the mutex.
  bool IsSet() const { return set_.load(); }
  // Waits at most `ms` milliseconds of real time for the event; true when
  // it is set (at once when it already was), false on time-out.
  bool Wait(unsigned int ms);

 private:
  std::atomic<bool> set_;
};

#endif  // TEV_SUPPORT_PEVENT_H_
