#include "db/LogSyncer.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <utility>

namespace {

bool SyncFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fdatasync(fd) == 0;
  close(fd);
  return synced;
}

}  // namespace

LogSyncer::~LogSyncer() {
  std::unique_lock<std::mutex> hold(mutex_);
  // A forked child inherits the object but not the thread.
  if (!thread_.joinable() || owner_ != getpid()) {
    if (thread_.joinable()) thread_.detach();
    return;
  }
  stopping_ = true;
  hold.unlock();
  wake_.notify_one();
  thread_.join();
}

bool LogSyncer::Begin(const std::string& path, std::future<bool>* done) {
  Job job{path, std::promise<bool>()};
  *done = job.done.get_future();
  std::lock_guard<std::mutex> hold(mutex_);
  if (!thread_.joinable() || owner_ != getpid()) {
    if (thread_.joinable()) thread_.detach();  // the parent's, not ours
    stopping_ = false;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return false;
    }
    owner_ = getpid();
  }
  jobs_.push_back(std::move(job));
  wake_.notify_one();
  return true;
}

void LogSyncer::Run() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (true) {
    wake_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, nothing left
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    hold.unlock();
    job.done.set_value(SyncFile(job.path));
    hold.lock();
  }
}
