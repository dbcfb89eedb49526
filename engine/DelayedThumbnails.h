// Thumbnail requests that must wait until the recorder has written enough
// of a new file. The wait happens on a thread of its own so that the bus
// thread that carried the start report is free at once.
#ifndef TEV_ENGINE_DELAYEDTHUMBNAILS_H_
#define TEV_ENGINE_DELAYEDTHUMBNAILS_H_

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class DelayedThumbnails {
 public:
  DelayedThumbnails() = default;
  ~DelayedThumbnails();
  DelayedThumbnails(const DelayedThumbnails&) = delete;
  DelayedThumbnails& operator=(const DelayedThumbnails&) = delete;

  // After `delayMs` of real time, asks for the thumbnail of `filePath` when
  // its row is still recording then. Ignored once stopped. Any thread.
  void Request(const std::wstring& filePath, unsigned int delayMs);
  // Drops what is still waiting and ends the thread; later requests are
  // ignored. Any thread except the worker's own.
  void Stop();

 private:
  void Run();

  std::mutex mu_;
  std::condition_variable wake_;
  // Guarded by mu_.
  std::multimap<std::chrono::steady_clock::time_point, std::wstring> due_;
  bool stopping_ = false;
  std::thread worker_;  // started by the first request
};

#endif  // TEV_ENGINE_DELAYEDTHUMBNAILS_H_
