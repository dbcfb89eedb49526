#include "engine/DelayedThumbnails.h"

#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "platform/Env.h"

namespace {

// Nothing is due: a real wait, re-checked now and then (the clock of a
// test may not move by itself).
constexpr unsigned int kIdleWaitMs = 60 * 1000;

}  // namespace

DelayedThumbnails::~DelayedThumbnails() { Stop(); }

void DelayedThumbnails::Request(const std::wstring& filePath, unsigned int delayMs) {
  std::lock_guard<std::mutex> hold(mu_);
  if (stopping_) return;
  due_.emplace(tev::Env::Current().NowMs() + delayMs, filePath);
  if (!worker_.joinable()) worker_ = std::thread(&DelayedThumbnails::Run, this);
  wake_.Set();
}

void DelayedThumbnails::Stop() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> hold(mu_);
    stopping_ = true;
    due_.clear();
    worker.swap(worker_);
    wake_.Set();
  }
  if (worker.joinable()) worker.join();
}

void DelayedThumbnails::Run() {
  for (;;) {
    tev::Env& env = tev::Env::Current();
    std::wstring path;
    int64_t waitMs = -1;
    {
      std::lock_guard<std::mutex> hold(mu_);
      if (stopping_) return;
      if (!due_.empty()) {
        auto first = due_.begin();
        waitMs = first->first - env.NowMs();
        if (waitMs <= 0) {
          path = first->second;
          due_.erase(first);
        }
      }
      if (path.empty()) wake_.Reset();
    }
    if (!path.empty()) {
      // The row may have gone while we waited (cancelled and removed).
      if (host_ != nullptr && host_->Stopping()) continue;
      Schedule row(path, DVRSTATE_RECORDING);
      if (row.m_id != 0) recorder_.CreateThumbnail(path);
    } else if (waitMs < 0) {
      wake_.Wait(kIdleWaitMs);
    } else {
      env.WaitForEvent(wake_, waitMs);
    }
  }
}
