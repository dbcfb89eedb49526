#include "support/PMutex.h"

PMutex::PMutex(bool recursive) : recursive_(recursive) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  if (recursive) {
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  }
  pthread_mutex_init(&mutex_, &attr);
  pthread_mutexattr_destroy(&attr);
}

PMutex::~PMutex() { pthread_mutex_destroy(&mutex_); }

void PMutex::lock() { pthread_mutex_lock(&mutex_); }

void PMutex::unlock() { pthread_mutex_unlock(&mutex_); }

bool PMutex::trylock() { return pthread_mutex_trylock(&mutex_) == 0; }
