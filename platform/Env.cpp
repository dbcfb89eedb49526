#include "platform/Env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/NoDestructor.h"
#include "platform/WideText.h"

namespace tev {

namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::wstring& path) { return ToStdUtf8(path); }

class PosixEnv : public Env {
 public:
  int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }

  int64_t FreeSpaceKb(const std::wstring& directory) override {
    struct statvfs info;
    if (directory.empty() || statvfs(Narrow(directory).c_str(), &info) != 0) return -1;
    // f_bavail: what a non-root writer (the recorder) can still use.
    const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) *
                                     static_cast<unsigned long long>(info.f_frsize);
    return static_cast<int64_t>(bytes / 1024);
  }

  bool FileExists(const std::wstring& path) override {
    std::error_code ec;
    return !path.empty() && fs::exists(Narrow(path), ec);
  }

  bool IsDirectory(const std::wstring& path) override {
    std::error_code ec;
    return !path.empty() && fs::is_directory(Narrow(path), ec);
  }

  bool CanListDirectory(const std::wstring& path) override {
    if (path.empty()) return false;
    DIR* dir = ::opendir(Narrow(path).c_str());
    if (dir == nullptr) return false;
    // Reading the first entry is what fails on a share whose server is gone.
    errno = 0;
    const bool read = ::readdir(dir) != nullptr || errno == 0;
    ::closedir(dir);
    return read;
  }

  int64_t DeviceId(const std::wstring& path) override {
    struct stat info;
    if (path.empty() || ::stat(Narrow(path).c_str(), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_dev);
  }

  int64_t FileSize(const std::wstring& path) override {
    std::error_code ec;
    const auto bytes = fs::file_size(Narrow(path), ec);
    return ec ? -1 : static_cast<int64_t>(bytes);
  }

  bool CreateFile(const std::wstring& path) override {
    const int fd = ::open(Narrow(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    return ::close(fd) == 0;
  }

  bool RemoveFile(const std::wstring& path) override {
    std::error_code ec;
    return fs::remove(Narrow(path), ec) && !ec;
  }

  bool RenameFile(const std::wstring& from, const std::wstring& to) override {
    return std::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0;
  }

  bool CreateDirectories(const std::wstring& path) override {
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(Narrow(path), ec);
    return fs::is_directory(Narrow(path), ec);
  }

  void SleepMs(int64_t ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

// The real environment, the one a test installed instead, and the clock's
// listener. Process-wide because product code reads the clock everywhere
// without a handle. Never destroyed: threads still running at exit may
// read the clock.
struct Environments {
  PosixEnv real;
  std::atomic<Env*> installed{nullptr};
  std::atomic<ClockMovedListener*> clockMoved{nullptr};
};

Environments& TheEnvironments() {
  static tev::NoDestructor<Environments> environments;
  return *environments;
}

}  // namespace

Env& Env::Real() { return TheEnvironments().real; }

Env& Env::Current() {
  Environments& all = TheEnvironments();
  Env* env = all.installed.load(std::memory_order_acquire);
  return env != nullptr ? *env : all.real;
}

Env* Env::Install(Env* env) {
  Env* previous = TheEnvironments().installed.exchange(env, std::memory_order_acq_rel);
  NotifyClockMoved();
  return previous;
}

int64_t Env::Now() {
  const int64_t ms = NowMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

void Env::AddClockMovedListener(ClockMovedListener* listener) {
  ClockMovedListener* none = nullptr;
  TheEnvironments().clockMoved.compare_exchange_strong(none, listener);
}

void Env::RemoveClockMovedListener(ClockMovedListener* listener) {
  ClockMovedListener* expected = listener;
  TheEnvironments().clockMoved.compare_exchange_strong(expected, nullptr);
}

void Env::NotifyClockMoved() {
  if (ClockMovedListener* listener = TheEnvironments().clockMoved.load()) listener->OnClockMoved();
}

}  // namespace tev
