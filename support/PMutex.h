// One pthread mutex. A recursive PMutex may be locked again by the thread
// that holds it (each lock needs its unlock); a non-recursive one must not.
// In this module only the engine mutex is recursive.
#ifndef TEV_SUPPORT_PMUTEX_H_
#define TEV_SUPPORT_PMUTEX_H_

#include <pthread.h>

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

  bool isRecursive() const { return recursive_; }
  pthread_mutex_t* native() { return &mutex_; }

 protected:
  pthread_mutex_t mutex_;

 private:
  bool recursive_;
};

#endif  // TEV_SUPPORT_PMUTEX_H_
