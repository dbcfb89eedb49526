// An auto-reset event that a poll() can wait on (an eventfd): Set from any
// thread; the waiting thread polls fd() and takes the signal with Consume().
#ifndef TEV_PLATFORM_WAKEEVENT_H_
#define TEV_PLATFORM_WAKEEVENT_H_

namespace tev {

class WakeEvent {
 public:
  // ok() is false when the eventfd could not be made; Set then does nothing.
  WakeEvent();
  ~WakeEvent();
  bool ok() const { return fd_ >= 0; }

  void Set();
  // True when the event was set since the last Consume; clears it.
  bool Consume();
  // Waits up to `milliseconds` for the event and consumes it; true when it
  // was set.
  bool Wait(int milliseconds);
  int fd() const { return fd_; }

  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace tev

#endif  // TEV_PLATFORM_WAKEEVENT_H_
