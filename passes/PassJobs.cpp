#include "passes/PassJobs.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "support/Log.h"
#include "support/PThread.h"

namespace {

struct Jobs {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;  // guarded by mutex
};

// Never destroyed: a job may still end while the process exits.
Jobs& TheJobs() {
  static Jobs* jobs = new Jobs();
  return *jobs;
}

int RunJob(void* argument) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
  (*work)();
  Jobs& jobs = TheJobs();
  std::lock_guard<std::mutex> hold(jobs.mutex);
  if (--jobs.running == 0) jobs.idle.notify_all();
  return 0;
}

}  // namespace

void StartPassJob(std::function<void()> work, const wchar_t* what) {
  Jobs& jobs = TheJobs();
  {
    std::lock_guard<std::mutex> hold(jobs.mutex);
    ++jobs.running;
  }
  auto* argument = new std::function<void()>(std::move(work));
  try {
    delete new PThread(&RunJob, argument);  // detached when the object goes
  } catch (const std::exception&) {
    delete argument;
    LogError(L"StartPassJob: no thread for %ls", what);
    std::lock_guard<std::mutex> hold(jobs.mutex);
    if (--jobs.running == 0) jobs.idle.notify_all();
  }
}

void WaitForPassJobs() {
  Jobs& jobs = TheJobs();
  std::unique_lock<std::mutex> hold(jobs.mutex);
  jobs.idle.wait(hold, [&jobs] { return jobs.running == 0; });
}
