// Change notifications for one folder's own entries (not its subfolders'),
// over inotify. What counts as a change: a file created, deleted, renamed
// or moved in or out, and a file written or closed after writing. Entries
// that are folders do not count. A waiter polls fd() and then calls
// Drain().
//
// Owned and used by one thread; not thread-safe.
#ifndef TEV_PLATFORM_FOLDERWATCH_H_
#define TEV_PLATFORM_FOLDERWATCH_H_

#include <string>

namespace tev {

class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch();

  // Watches `folder` (UTF-8 path), replacing any earlier watch. False when
  // it cannot be watched (not a folder, gone, no permission, no inotify
  // instance left); *error then holds errno and nothing is watched.
  bool Open(const std::string& folder, int* error);
  void Close();
  // Readable when events are queued; -1 while nothing is watched.
  int fd() const { return fd_; }

  struct Events {
    bool changed = false;   // a change as above
    bool overflow = false;  // the kernel queue overflowed: changes were lost
    bool lost = false;      // the folder itself went away (deleted, moved,
                            // unmounted): the watch is closed
  };
  // Reads every queued event without blocking.
  Events Drain();

  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace tev

#endif  // TEV_PLATFORM_FOLDERWATCH_H_
