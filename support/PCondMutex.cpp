#include "support/PCondMutex.h"

#include <cerrno>

PCondMutex::PCondMutex() : PMutex(false) { pthread_cond_init(&cond_, nullptr); }

PCondMutex::~PCondMutex() { pthread_cond_destroy(&cond_); }

int PCondMutex::wait() { return pthread_cond_wait(&cond_, &mutex_); }

int PCondMutex::timedwait(const struct timespec& deadline) {
  int rc = pthread_cond_timedwait(&cond_, &mutex_, &deadline);
  return rc == ETIMEDOUT ? PTHREAD_TIMEDOUT_CODE : rc;
}

void PCondMutex::broadcast() { pthread_cond_broadcast(&cond_); }

void PCondMutex::signal() { pthread_cond_signal(&cond_); }
