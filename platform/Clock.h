// The product's one time source: the system clock plus an offset that tests
// may shift. Every decision that depends on "now" reads it from here, and
// every timed wait that targets a wall-clock instant converts through here,
// so a test that shifts the clock makes the timer sleep only the remainder.
#ifndef TEV_PLATFORM_CLOCK_H_
#define TEV_PLATFORM_CLOCK_H_

#include <cstdint>

namespace tev {

class Clock {
 public:
  // Seconds since 1970 (UTC), shifted.
  static int64_t Now();
  // Milliseconds since 1970 (UTC), shifted.
  static int64_t NowMs();
  // The real system clock, unshifted.
  static int64_t RealNowMs();
  // Moves "now" by `seconds` (cumulative). Test seam.
  static void Shift(int64_t seconds);
  static void ResetShift();
  static int64_t ShiftSeconds();
  // Called after every Shift/ResetShift, so that waits aimed at an instant
  // of this clock can re-read it. One listener; null removes it.
  static void SetShiftListener(void (*listener)());
};

}  // namespace tev

#endif  // TEV_PLATFORM_CLOCK_H_
