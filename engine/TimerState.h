// The process-wide timer-running flag: set when the timer thread enters its
// loop, cleared by the engine's shutdown.
#ifndef TEV_ENGINE_TIMERSTATE_H_
#define TEV_ENGINE_TIMERSTATE_H_

#include <atomic>

std::atomic<bool>& TimerRunning();

#endif  // TEV_ENGINE_TIMERSTATE_H_
