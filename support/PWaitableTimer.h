// Base of the engine's waitable timer: a mutex with a condition variable and
// two flags, both guarded by that mutex and false after construction. The
// derived timer gives them their meaning (armed: a due time is set;
// cancelled: every wait ends at once, for good).
#ifndef TEV_SUPPORT_PWAITABLETIMER_H_
#define TEV_SUPPORT_PWAITABLETIMER_H_

#include "support/PCondMutex.h"

class PWaitableTimer : public PCondMutex {
 public:
  PWaitableTimer() = default;
  ~PWaitableTimer() override = default;

 protected:
  bool armed_ TEV_GUARDED_BY(this) = false;
  bool cancelled_ TEV_GUARDED_BY(this) = false;
};

#endif  // TEV_SUPPORT_PWAITABLETIMER_H_
