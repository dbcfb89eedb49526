// One pthread mutex. A recursive PMutex may be locked again by the thread
// that holds it (each lock needs its unlock); a non-recursive one must not.
// In this module only the engine mutex is recursive.
#ifndef TEV_SUPPORT_PMUTEX_H_
#define TEV_SUPPORT_PMUTEX_H_

#include <pthread.h>

#include <atomic>
#include <functional>

#include "support/PThreadAnnotations.h"

class TEV_CAPABILITY("mutex") PMutex {
 public:
  explicit PMutex(bool recursive = false);
  virtual ~PMutex();

  PMutex(const PMutex&) = delete;
  PMutex& operator=(const PMutex&) = delete;

  void lock() TEV_ACQUIRE();
  void unlock() TEV_RELEASE();
  // True when the mutex was taken; never blocks. On a non-recursive mutex
  // this fails also for the thread that already holds it.
  bool trylock() TEV_TRY_ACQUIRE(true);

  // Whether the calling thread holds this mutex. Known for a recursive
  // mutex only (false for the others): a condition wait on a plain one
  // releases it behind this class's back.
  bool HeldByCallingThread() const;
  // Recursive mutex only: runs `action` on the calling thread as soon as it
  // no longer holds the mutex (at once when it does not hold it now), so
  // that work which waits for other threads stays out of the lock.
  void AfterRelease(std::function<void()> action);
  // Recursive mutex only: no thread may wait for another process while it
  // holds this one (the engine lock). Set before first use.
  void ForbidWaitingWhileHeld() { forbidsWaiting_ = true; }
  // Whether the calling thread holds a mutex marked so.
  static bool CallingThreadHoldsNoWaitLock();
  // Runs `action` on the calling thread once it holds no mutex marked so
  // (at once when it holds none now): for code that cannot name the lock.
  static void AfterNoWaitLocksReleased(std::function<void()> action);
  pthread_mutex_t* native() { return &mutex_; }

 protected:
  pthread_mutex_t mutex_;

 private:
  // A recursive mutex's first lock by a thread.
  void Taken();

  bool recursive_;
  bool forbidsWaiting_ = false;
  // Recursive mutex only: the holder and its depth, written by the holder.
  std::atomic<pthread_t> owner_{0};
  int depth_ = 0;
};

#endif  // TEV_SUPPORT_PMUTEX_H_
