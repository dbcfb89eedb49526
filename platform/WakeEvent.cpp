#include "platform/WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tev {

WakeEvent::WakeEvent() { fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Set() {
  if (fd_ < 0) return;
  const uint64_t one = 1;
  (void)!::write(fd_, &one, sizeof one);
}

bool WakeEvent::Consume() {
  if (fd_ < 0) return false;
  uint64_t count = 0;
  return ::read(fd_, &count, sizeof count) == sizeof count && count > 0;
}

bool WakeEvent::Wait(int milliseconds) {
  if (fd_ < 0) return false;
  struct pollfd one = {fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&one, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && Consume();
}

}  // namespace tev
