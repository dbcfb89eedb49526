#include "engine/DelayedThumbnails.h"

#include "db/Schedule.h"
#include "dvr/DVR.h"

DelayedThumbnails::~DelayedThumbnails() { Stop(); }

void DelayedThumbnails::Request(const std::wstring& filePath, unsigned int delayMs) {
  std::lock_guard<std::mutex> hold(mu_);
  if (stopping_) return;
  due_.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), filePath);
  if (!worker_.joinable()) worker_ = std::thread(&DelayedThumbnails::Run, this);
  wake_.notify_one();
}

void DelayedThumbnails::Stop() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> hold(mu_);
    stopping_ = true;
    due_.clear();
    worker.swap(worker_);
  }
  wake_.notify_all();
  if (worker.joinable()) worker.join();
}

void DelayedThumbnails::Run() {
  std::unique_lock<std::mutex> hold(mu_);
  while (!stopping_) {
    if (due_.empty()) {
      wake_.wait(hold);
      continue;
    }
    auto first = due_.begin();
    if (std::chrono::steady_clock::now() < first->first) {
      wake_.wait_until(hold, first->first);
      continue;
    }
    const std::wstring path = first->second;
    due_.erase(first);
    hold.unlock();
    // The row may have gone while we waited (cancelled and removed).
    Schedule row(path, DVRSTATE_RECORDING);
    if (row.m_id != 0) DVR::CreateThumbnail(path);
    hold.lock();
  }
}
