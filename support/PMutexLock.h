// Scoped lock: holds the mutex from construction to destruction.
#ifndef TEV_SUPPORT_PMUTEXLOCK_H_
#define TEV_SUPPORT_PMUTEXLOCK_H_

#include "support/PMutex.h"

class TEV_SCOPED_CAPABILITY PMutexLock {
 public:
  // REQUIRES: mutex is not null and outlives this lock.
  explicit PMutexLock(PMutex* mutex) TEV_ACQUIRE(mutex) : mutex_(mutex) { mutex_->lock(); }
  explicit PMutexLock(PMutex& mutex) TEV_ACQUIRE(mutex) : mutex_(&mutex) { mutex_->lock(); }
  ~PMutexLock() TEV_RELEASE() { mutex_->unlock(); }

  PMutexLock(const PMutexLock&) = delete;
  PMutexLock& operator=(const PMutexLock&) = delete;

 private:
  PMutex* mutex_;
};

#endif  // TEV_SUPPORT_PMUTEXLOCK_H_
