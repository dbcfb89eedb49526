#include "platform/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace tev {

namespace {

// Names and sizes of the folder's files, as the recording folders need;
// the self events tell that the folder itself is no longer there.
constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                           IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kFileChange =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE;
constexpr uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

}  // namespace

FolderWatch::~FolderWatch() { Close(); }

bool FolderWatch::Open(const std::string& folder, int* error) {
  Close();
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  if (folder.empty() || inotify_add_watch(fd, folder.c_str(), kMask) < 0) {
    if (error) *error = folder.empty() ? ENOENT : errno;
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FolderWatch::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FolderWatch::Events FolderWatch::Drain() {
  Events events;
  if (fd_ < 0) return events;
  alignas(struct inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: the queue is empty
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
      if (event->mask & IN_Q_OVERFLOW) events.overflow = true;
      if (event->mask & kGone) events.lost = true;
      if ((event->mask & kFileChange) && !(event->mask & IN_ISDIR)) events.changed = true;
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
    }
  }
  if (events.lost) Close();
  return events;
}

}  // namespace tev
