#include "passes/PassJobs.h"

#include <exception>
#include <system_error>
#include <utility>

#include "platform/WideText.h"
#include "support/Log.h"

namespace {

void JoinAll(std::vector<std::thread>* threads) {
  for (std::thread& thread : *threads) thread.join();
  threads->clear();
}

}  // namespace

PassWork::~PassWork() { WaitForJobs(); }

void PassWork::RunJob(uint64_t id, std::function<void()> work) {
  try {
    work();
  } catch (const std::exception& e) {
    LogError(L"Pass job ended by exception: %ls", tev::FromStdUtf8(e.what()).c_str());
  }
  std::lock_guard<std::mutex> hold(m_jobsMutex);
  // The starter inserted this thread before it let go of the mutex.
  auto self = m_running.find(id);
  m_ended.push_back(std::move(self->second));
  m_running.erase(self);
  m_changed.notify_all();
}

void PassWork::StartJob(std::function<void()> work, const wchar_t* what) {
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> hold(m_jobsMutex);
    ended.swap(m_ended);
    const uint64_t id = m_next++;
    try {
      m_running.emplace(id, std::thread(&PassWork::RunJob, this, id, std::move(work)));
    } catch (const std::system_error&) {
      LogError(L"StartPassJob: no thread for %ls", what);
    }
  }
  JoinAll(&ended);
}

void PassWork::WaitForJobs() {
  for (;;) {
    std::vector<std::thread> ended;
    {
      std::unique_lock<std::mutex> hold(m_jobsMutex);
      m_changed.wait(hold, [this] { return m_running.empty(); });
      if (m_ended.empty()) return;
      ended.swap(m_ended);
    }
    JoinAll(&ended);
  }
}
