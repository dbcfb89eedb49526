#include "support/PMutex.h"

#include <utility>
#include <vector>

#include "support/Log.h"

namespace {

// Actions waiting for the calling thread to release a recursive mutex
// (null: every mutex that forbids waiting).
struct Deferred {
  const PMutex* mutex;
  std::function<void()> action;
};
// Per thread by nature (an action waits for its own thread's release): the
// deferred actions, and how many mutexes forbidding waits it holds.
struct PerThread {
  std::vector<Deferred> deferred;
  int noWaitHeld = 0;
};
thread_local PerThread t_thread;

void RunDeferred(const PMutex* mutex) {
  // An action may defer more (taking and releasing the mutex itself): the
  // list is taken apart before each run.
  for (;;) {
    auto it = t_thread.deferred.begin();
    while (it != t_thread.deferred.end() && it->mutex != mutex) ++it;
    if (it == t_thread.deferred.end()) return;
    std::function<void()> action = std::move(it->action);
    t_thread.deferred.erase(it);
    // It runs where a lock is released, often a destructor: nothing leaves.
    try {
      action();
    } catch (...) {
      LogError(L"PMutex: work deferred until a lock was released failed");
    }
  }
}

}  // namespace

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

void PMutex::lock() {
  pthread_mutex_lock(&mutex_);
  if (recursive_ && depth_++ == 0) Taken();
}

void PMutex::Taken() {
  owner_.store(pthread_self(), std::memory_order_relaxed);
  if (forbidsWaiting_) ++t_thread.noWaitHeld;
}

void PMutex::unlock() {
  const bool released = recursive_ && --depth_ == 0;
  const bool lastNoWait = released && forbidsWaiting_ && --t_thread.noWaitHeld == 0;
  if (released) owner_.store(0, std::memory_order_relaxed);
  pthread_mutex_unlock(&mutex_);
  if (released && !t_thread.deferred.empty()) RunDeferred(this);
  if (lastNoWait && !t_thread.deferred.empty()) RunDeferred(nullptr);
}

void PMutex::AfterRelease(std::function<void()> action) {
  if (!HeldByCallingThread()) {
    action();
    return;
  }
  t_thread.deferred.push_back(Deferred{this, std::move(action)});
}

bool PMutex::trylock() {
  if (pthread_mutex_trylock(&mutex_) != 0) return false;
  if (recursive_ && depth_++ == 0) Taken();
  return true;
}

bool PMutex::CallingThreadHoldsNoWaitLock() { return t_thread.noWaitHeld > 0; }

void PMutex::AfterNoWaitLocksReleased(std::function<void()> action) {
  if (!CallingThreadHoldsNoWaitLock()) {
    action();
    return;
  }
  t_thread.deferred.push_back(Deferred{nullptr, std::move(action)});
}

bool PMutex::HeldByCallingThread() const {
  // Only the holder writes its own id; any other thread reads another id
  // or 0, never its own.
  return recursive_ && pthread_equal(owner_.load(std::memory_order_relaxed), pthread_self());
}
