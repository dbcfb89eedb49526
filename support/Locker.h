// A container together with the lock that guards it (the critical section
// of the Windows original, here a non-recursive mutex). Enter before every
// use of the container and leave right after; hold it for one lookup or
// change, never across a bus request.
#ifndef TEV_SUPPORT_LOCKER_H_
#define TEV_SUPPORT_LOCKER_H_

#include <utility>

#include "support/PMutex.h"

class TEV_CAPABILITY("mutex") _locker {
 public:
  _locker() = default;
  virtual ~_locker() = default;

  _locker(const _locker&) = delete;
  _locker& operator=(const _locker&) = delete;

  void enter() TEV_ACQUIRE() { mutex_.lock(); }
  void leave() TEV_RELEASE() { mutex_.unlock(); }
  // So that std::lock_guard / std::unique_lock work too.
  void lock() TEV_ACQUIRE() { enter(); }
  void unlock() TEV_RELEASE() { leave(); }

 private:
  PMutex mutex_{false};
};

// Holds a section from construction to destruction.
class TEV_SCOPED_CAPABILITY _lockerScope {
 public:
  explicit _lockerScope(_locker* l) TEV_ACQUIRE(l) : l_(l) { l_->enter(); }
  ~_lockerScope() TEV_RELEASE() { l_->leave(); }
  _lockerScope(const _lockerScope&) = delete;
  _lockerScope& operator=(const _lockerScope&) = delete;

 private:
  _locker* l_;
};

template <class Container>
class locker : public _locker {
 public:
  // REQUIRES: entered.
  Container& container() TEV_REQUIRES(this) { return container_; }

  // Runs fn(container) inside the section and returns its result.
  template <class Fn>
  auto with(Fn&& fn) -> decltype(fn(std::declval<Container&>())) {
    _lockerScope scope(this);
    return fn(container_);
  }

 private:
  Container container_;
};

#endif  // TEV_SUPPORT_LOCKER_H_
