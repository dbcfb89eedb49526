// Syncs the write-ahead log on one long-lived thread for GroupSync's
// background syncs: a new thread per sync costs a good part of the wait it
// is meant to hide. Jobs run in the order they are begun. The database
// (db/Database.h) owns one.
//
// Any thread. The thread starts with the first job and ends (after its
// queued jobs) with the object; a forked child gets a thread of its own.
#ifndef TEV_DB_LOGSYNCER_H_
#define TEV_DB_LOGSYNCER_H_

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>

class LogSyncer {
 public:
  LogSyncer() = default;
  ~LogSyncer();

  LogSyncer(const LogSyncer&) = delete;
  LogSyncer& operator=(const LogSyncer&) = delete;

  // Begins an fdatasync of the file at `path` (opened read-only for it).
  // False when nothing could be begun (no thread); otherwise *done becomes
  // true once the file is synced, false when it could not be.
  bool Begin(const std::string& path, std::future<bool>* done);

 private:
  struct Job {
    std::string path;
    std::promise<bool> done;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;   // guarded by mutex_
  bool stopping_ = false;  // guarded by mutex_
  std::thread thread_;
  pid_t owner_ = 0;  // the process that started thread_
};

#endif  // TEV_DB_LOGSYNCER_H_
