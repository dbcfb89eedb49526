// Copies the FATAL and ERROR lines that a module writes to its log file onto
// a stream (the host's standard error), so that a service manager's journal
// shows them beside the host's own lines. The module keeps writing its log
// file as before; this only reads it.
//
// Follows rotation: when the file is replaced or shrinks, reading starts
// again at its beginning. Lines written to the old file after the last
// read and before the rotation are not copied.
//
// Threads: Start and Stop on the host's thread; reading on a thread of its
// own.
#ifndef TEV_HOST_LOGFOLLOWER_H_
#define TEV_HOST_LOGFOLLOWER_H_

#include <sys/types.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

class LogFollower {
 public:
  LogFollower(std::string path, FILE* sink);
  ~LogFollower();
  LogFollower(const LogFollower&) = delete;
  LogFollower& operator=(const LogFollower&) = delete;

  // Skips what the file holds now and follows what is appended.
  void Start();
  // Copies what was appended until now, then stops the thread.
  void Stop();

  // The module's log file for a module library path: "<appdata>/TevNetworks/
  // Logs/<name>.log" with <name> the file name without "lib" and ".so...".
  static std::string LogPathFor(const std::string& libraryPath, const std::string& appData);

 private:
  void Run();
  // Reads what was appended and copies the wanted lines.
  void Drain();

  const std::string path_;
  FILE* const sink_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by mutex_
  // Only touched by Drain, which runs on one thread at a time.
  off_t offset_ = 0;
  ino_t inode_ = 0;
  std::string partial_;
};

#endif  // TEV_HOST_LOGFOLLOWER_H_
