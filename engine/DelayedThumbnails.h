// Thumbnail requests that must wait until the recorder has written enough
// of a new file. The wait happens on a thread of its own so that the bus
// thread that carried the start report is free at once. Due times and the
// wait follow the environment's clock (platform/Env.h).
#ifndef TEV_ENGINE_DELAYEDTHUMBNAILS_H_
#define TEV_ENGINE_DELAYEDTHUMBNAILS_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "engine/EngineHost.h"
#include "support/PEvent.h"

class DVR;

class DelayedThumbnails {
 public:
  // `recorder` asks for the thumbnails; both outlive this object.
  DelayedThumbnails(EngineHost* host, DVR& recorder) : host_(host), recorder_(recorder) {}
  ~DelayedThumbnails();
  DelayedThumbnails(const DelayedThumbnails&) = delete;
  DelayedThumbnails& operator=(const DelayedThumbnails&) = delete;

  // After `delayMs`, asks for the thumbnail of `filePath` when its row is
  // still recording then and the module is not stopping. Ignored once
  // stopped. Any thread.
  void Request(const std::wstring& filePath, unsigned int delayMs);
  // Drops what is still waiting and joins the thread; later requests are
  // ignored. Any thread except the worker's own.
  void Stop();

 private:
  void Run();

  EngineHost* const host_;  // may be null
  DVR& recorder_;
  std::mutex mu_;
  PEvent wake_;  // set under mu_ by Request and Stop, reset under mu_ by Run
  // Guarded by mu_: due instant (ms of the environment's clock) -> file.
  std::multimap<int64_t, std::wstring> due_;
  bool stopping_ = false;
  std::thread worker_;  // started by the first request
};

#endif  // TEV_ENGINE_DELAYEDTHUMBNAILS_H_
