// A manual-reset timer for a thread that waits with poll(). The due
// instant is judged by the product clock (tev::Clock), so a test that
// shifts the clock makes it due without waiting; a CLOCK_REALTIME timerfd
// armed for the same instant makes fd() readable when it comes in real
// time. Once due it stays due until set again.
//
// Set, IsDue and MsUntilDue may be called from any thread; fd() is polled
// and Drain()ed by the one waiting thread.
#ifndef TEV_PLATFORM_DUETIMER_H_
#define TEV_PLATFORM_DUETIMER_H_

#include <atomic>
#include <cstdint>

namespace tev {

class DueTimer {
 public:
  // Creates the timerfd; ok() is false when that failed (the timer then
  // still becomes due, judged by the clock, but fd() never wakes a poll).
  DueTimer();
  ~DueTimer();
  bool ok() const { return fd_ >= 0; }

  // Due `milliseconds` from now (at once when not positive), replacing any
  // earlier due time.
  void SetAfterMs(int64_t milliseconds);
  bool IsDue() const;
  // Milliseconds until due: 0 when due, -1 when never set.
  int64_t MsUntilDue() const;

  int fd() const { return fd_; }
  // Clears fd()'s readability.
  void Drain();

  DueTimer(const DueTimer&) = delete;
  DueTimer& operator=(const DueTimer&) = delete;

 private:
  static constexpr int64_t kNever = INT64_MAX;
  int fd_ = -1;
  std::atomic<int64_t> dueMs_{kNever};  // product clock
};

}  // namespace tev

#endif  // TEV_PLATFORM_DUETIMER_H_
