#include "passes/PassJobs.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/WideText.h"
#include "support/Log.h"

namespace {

struct Jobs {
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by mutex. A job moves its own thread from `running` to
  // `ended` as its last step; whoever comes next joins it, so that no job
  // thread is left running code of the module once the wait returns.
  std::map<uint64_t, std::thread> running;
  std::vector<std::thread> ended;
  uint64_t next = 0;
};

// Never destroyed: a job may still end while the process exits.
Jobs& TheJobs() {
  static tev::NoDestructor<Jobs> jobs;
  return *jobs;
}

void JoinAll(std::vector<std::thread>* threads) {
  for (std::thread& thread : *threads) thread.join();
  threads->clear();
}

void RunJob(uint64_t id, std::function<void()> work) {
  try {
    work();
  } catch (const std::exception& e) {
    LogError(L"Pass job ended by exception: %ls", tev::FromStdUtf8(e.what()).c_str());
  }
  Jobs& jobs = TheJobs();
  std::lock_guard<std::mutex> hold(jobs.mutex);
  // The starter inserted this thread before it let go of the mutex.
  auto self = jobs.running.find(id);
  jobs.ended.push_back(std::move(self->second));
  jobs.running.erase(self);
  jobs.changed.notify_all();
}

}  // namespace

void StartPassJob(std::function<void()> work, const wchar_t* what) {
  Jobs& jobs = TheJobs();
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> hold(jobs.mutex);
    ended.swap(jobs.ended);
    const uint64_t id = jobs.next++;
    try {
      jobs.running.emplace(id, std::thread(&RunJob, id, std::move(work)));
    } catch (const std::system_error&) {
      LogError(L"StartPassJob: no thread for %ls", what);
    }
  }
  JoinAll(&ended);
}

void WaitForPassJobs() {
  Jobs& jobs = TheJobs();
  for (;;) {
    std::vector<std::thread> ended;
    {
      std::unique_lock<std::mutex> hold(jobs.mutex);
      jobs.changed.wait(hold, [&jobs] { return jobs.running.empty(); });
      if (jobs.ended.empty()) return;
      ended.swap(jobs.ended);
    }
    JoinAll(&ended);
  }
}
