// Shorthands for the clock of the environment seam (platform/Env.h). Code
// that decides something from "now" takes it as an argument; these are for
// the edges that read it (service handlers, the timer thread, logging).
#ifndef TEV_PLATFORM_CLOCK_H_
#define TEV_PLATFORM_CLOCK_H_

#include <cstdint>

#include "platform/Env.h"

namespace tev {

class Clock {
 public:
  // Seconds since 1970 (UTC) of the current environment.
  static int64_t Now() { return Env::Current().Now(); }
  // Milliseconds since 1970 (UTC) of the current environment.
  static int64_t NowMs() { return Env::Current().NowMs(); }
  // The real system clock, whatever environment a test installed (for
  // kernel deadlines).
  static int64_t RealNowMs() { return Env::Real().NowMs(); }
};

}  // namespace tev

#endif  // TEV_PLATFORM_CLOCK_H_
