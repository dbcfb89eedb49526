#include "host/LogFollower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <utility>

namespace {

bool Wanted(const std::string& line) {
  return line.find("[ERROR]") != std::string::npos || line.find("[FATAL]") != std::string::npos;
}

}  // namespace

LogFollower::LogFollower(std::string path, FILE* sink) : path_(std::move(path)), sink_(sink) {}

LogFollower::~LogFollower() { Stop(); }

std::string LogFollower::LogPathFor(const std::string& libraryPath, const std::string& appData) {
  std::string name = libraryPath.substr(libraryPath.find_last_of('/') + 1);
  if (name.compare(0, 3, "lib") == 0) name.erase(0, 3);
  const size_t so = name.find(".so");
  if (so != std::string::npos) name.erase(so);
  return appData + "/TevNetworks/Logs/" + name + ".log";
}

void LogFollower::Start() {
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0) {
    offset_ = info.st_size;
    inode_ = info.st_ino;
  }
  thread_ = std::thread(&LogFollower::Run, this);
}

void LogFollower::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LogFollower::Run() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    hold.unlock();
    Drain();
    hold.lock();
    wake_.wait_for(hold, std::chrono::milliseconds(250), [this] { return stopping_; });
  }
  hold.unlock();
  Drain();
}

void LogFollower::Drain() {
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) return;
  if (info.st_ino != inode_ || info.st_size < offset_) {
    inode_ = info.st_ino;
    offset_ = 0;
    partial_.clear();
  }
  if (info.st_size == offset_) return;
  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char buffer[8192];
  ssize_t n;
  while ((n = pread(fd, buffer, sizeof buffer, offset_)) > 0) {
    offset_ += n;
    partial_.append(buffer, static_cast<size_t>(n));
    size_t start = 0, end;
    while ((end = partial_.find('\n', start)) != std::string::npos) {
      std::string line = partial_.substr(start, end - start + 1);
      if (Wanted(line)) std::fputs(line.c_str(), sink_);
      start = end + 1;
    }
    partial_.erase(0, start);
  }
  std::fflush(sink_);
  close(fd);
}
