// The product's one seam to the outside world: the wall clock, free disk
// space, the file operations the engine relies on, and plain waiting.
// Product code reaches it through Env::Current(); tests install a wrapper
// (tests/common/FakeEnv.h) that shifts the clock, fails the Nth call or
// reports a full or read-only disk, without touching product constants.
//
// Every method may be called from any thread. Paths are wide, converted to
// UTF-8 unit by unit (support/WideText.h).
#ifndef TEV_PLATFORM_ENV_H_
#define TEV_PLATFORM_ENV_H_

#include <cstdint>
#include <string>

class PEvent;

namespace tev {

// What waits aimed at an instant of the product clock implement.
class ClockMovedListener {
 public:
  virtual void OnClockMoved() = 0;

 protected:
  ~ClockMovedListener() = default;
};

class Env {
 public:
  virtual ~Env() = default;

  // The environment in use: the real one unless a test installed another.
  static Env& Current();
  // The real environment (system clock, real volumes and files).
  static Env& Real();
  // Makes `env` current for the whole process and returns the previous one
  // (null for the real one). `env` is not owned and must stay alive until
  // it is replaced; null restores the real one.
  static Env* Install(Env* env);

  // --- Clock ---
  // Milliseconds since 1970 (UTC).
  virtual int64_t NowMs() = 0;
  // Seconds since 1970 (UTC), rounded down.
  int64_t Now();
  // Called (with no lock held) whenever the clock moved other than by time
  // passing, so that waits aimed at an instant of this clock re-read it.
  // One listener for the process: the first to be added; the others wait
  // out their slices. The listener removes itself before it goes.
  static void AddClockMovedListener(ClockMovedListener* listener);
  static void RemoveClockMovedListener(ClockMovedListener* listener);

  // --- Disk ---
  // Kilobytes an unprivileged writer may still use on the volume that holds
  // `directory`; -1 when it cannot be read.
  virtual int64_t FreeSpaceKb(const std::wstring& directory) = 0;

  // --- Files: each false (or -1) on any failure, nothing thrown ---
  virtual bool FileExists(const std::wstring& path) = 0;
  virtual bool IsDirectory(const std::wstring& path) = 0;
  // Whether `path` is a directory this process can list.
  virtual bool CanListDirectory(const std::wstring& path) = 0;
  // The id of the file system (device) that holds `path`; -1 when it
  // cannot be read. A disk unmounted under its mount point shows as the
  // file system of the mount point.
  virtual int64_t DeviceId(const std::wstring& path) = 0;
  // Size in bytes of a regular file; -1 when it cannot be read.
  virtual int64_t FileSize(const std::wstring& path) = 0;
  // Creates `path` as an empty file (truncating one that exists).
  virtual bool CreateFile(const std::wstring& path) = 0;
  // Removes a file or an empty directory. False when nothing was removed.
  virtual bool RemoveFile(const std::wstring& path) = 0;
  // Renames within one volume, replacing an existing `to`.
  virtual bool RenameFile(const std::wstring& from, const std::wstring& to) = 0;
  // Creates the directory and missing parents; true when it is a directory
  // afterwards.
  virtual bool CreateDirectories(const std::wstring& path) = 0;

  // --- Waiting ---
  // Blocks the calling thread for `ms` milliseconds of this clock.
  virtual void SleepMs(int64_t ms) = 0;
  // Waits at most `ms` milliseconds for `event`; true when it is set (at
  // once when it already was), false on time-out. The real wait is defined
  // beside PEvent (support/), which is built on this layer.
  virtual bool WaitForEvent(PEvent& event, int64_t ms);

 protected:
  // For wrappers that move the clock: tells the listener.
  static void NotifyClockMoved();
};

// Forwards every call to another environment; derive from it to change a
// few of them (LevelDB's EnvWrapper).
class EnvWrapper : public Env {
 public:
  // REQUIRES: `target` outlives this wrapper.
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  int64_t NowMs() override { return target_->NowMs(); }
  int64_t FreeSpaceKb(const std::wstring& directory) override {
    return target_->FreeSpaceKb(directory);
  }
  bool FileExists(const std::wstring& path) override { return target_->FileExists(path); }
  bool IsDirectory(const std::wstring& path) override { return target_->IsDirectory(path); }
  bool CanListDirectory(const std::wstring& path) override {
    return target_->CanListDirectory(path);
  }
  int64_t DeviceId(const std::wstring& path) override { return target_->DeviceId(path); }
  int64_t FileSize(const std::wstring& path) override { return target_->FileSize(path); }
  bool CreateFile(const std::wstring& path) override { return target_->CreateFile(path); }
  bool RemoveFile(const std::wstring& path) override { return target_->RemoveFile(path); }
  bool RenameFile(const std::wstring& from, const std::wstring& to) override {
    return target_->RenameFile(from, to);
  }
  bool CreateDirectories(const std::wstring& path) override {
    return target_->CreateDirectories(path);
  }
  void SleepMs(int64_t ms) override { target_->SleepMs(ms); }
  bool WaitForEvent(PEvent& event, int64_t ms) override {
    return target_->WaitForEvent(event, ms);
  }

 private:
  Env* target_;
};

}  // namespace tev

#endif  // TEV_PLATFORM_ENV_H_
