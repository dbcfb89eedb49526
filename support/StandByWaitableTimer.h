// The engine's waitable timer over Linux timerfd; the engine owns one.
// Due times are kept in the product's clock (tev::Clock), so a test that
// shifts the clock makes a waiter sleep only the shifted remainder; the
// timerfd carries the same instant in real time so that, with
// CLOCK_REALTIME_ALARM, the kernel wakes a suspended machine for it.
#ifndef TEV_SUPPORT_STANDBYWAITABLETIMER_H_
#define TEV_SUPPORT_STANDBYWAITABLETIMER_H_

#include <atomic>
#include <cstdint>

#include "platform/Env.h"
#include "support/PWaitableTimer.h"

class StandByWaitableTimer : public PWaitableTimer, private tev::ClockMovedListener {
 public:
  // Its descriptors are opened when it is first armed.
  StandByWaitableTimer();
  // REQUIRES: nobody waits.
  ~StandByWaitableTimer() override;

  // Arms the timer `milliseconds` from now (at once when negative, 2 s for
  // 0), replacing any earlier due time. `resume` asks for the machine to
  // be woken from standby at the due time.
  void setTimer(int32_t milliseconds, bool resume);
  // Blocks until the due time passed (true) or the timer is cancelled
  // (false). Waits on the condition variable while nothing is armed.
  bool waitForAlarm();
  // Ends every present and future wait. For good.
  void cancel();
  // Opens the timer again after cancel(), unarmed, for an engine started
  // again.
  void Reopen();

  // --- State, for diagnostics and tests ---
  bool IsArmed();
  // Milliseconds from now (product clock) to the due time; meaningless
  // unless armed.
  int64_t RemainingMs();
  // Whether the last arming used the wake-from-standby clock.
  bool ArmedForResume();

 private:
  // Closes the timer's descriptors; the next arming opens them again.
  // REQUIRES: nobody waits.
  void ReleaseHandles();
  // Opens the timerfds and the wake-up eventfd. REQUIRES: mutex held.
  bool CreateHandlesLocked() TEV_REQUIRES(this);
  // Interrupts a waiter's current slice so it re-reads the due time.
  void Interrupt();
  void OnClockMoved() override { Interrupt(); }

  int alarmFd_ TEV_GUARDED_BY(this) = -1;  // CLOCK_REALTIME_ALARM, or plain
  int plainFd_ TEV_GUARDED_BY(this) = -1;  // CLOCK_REALTIME
  std::atomic<int> wakeFd_{-1};            // eventfd; opened with the timerfds
  bool haveAlarmClock_ TEV_GUARDED_BY(this) = false;
  bool resume_ TEV_GUARDED_BY(this) = false;
  int64_t dueMs_ TEV_GUARDED_BY(this) = 0;  // product clock
};

#endif  // TEV_SUPPORT_STANDBYWAITABLETIMER_H_
