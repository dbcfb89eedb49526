// The work on the passes of one module: the lock that serialises it and
// the short background jobs on passes (a refresh after a change, a property
// handed to a pass's schedules). Each job runs once on a thread of its own
// that owns its work. Shutdown waits for the running ones before the
// database closes; every job thread is joined, never left to end on its
// own.
#ifndef TEV_PASSES_PASSJOBS_H_
#define TEV_PASSES_PASSJOBS_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "support/PMutex.h"

class PassWork {
 public:
  PassWork() = default;
  // Waits for the jobs.
  ~PassWork();
  PassWork(const PassWork&) = delete;
  PassWork& operator=(const PassWork&) = delete;

  // Serialises the work on passes (creation, removal, priority moves and
  // the episode searches), so that two searches cannot both find an
  // episode missing and insert it twice. Recursive. Lock order: this, then
  // the engine lock, then the database lock.
  PMutex& Mutex() { return m_mutex; }

  // Starts `work` on a thread of its own (and joins jobs that have ended);
  // when no thread can be made, logs `what` at ERROR and drops the work.
  // Any thread.
  void StartJob(std::function<void()> work, const wchar_t* what);
  // Returns when no job is running and every job thread has been joined
  // (jobs started meanwhile are waited for too). Any thread except a job's
  // own.
  void WaitForJobs();

 private:
  void RunJob(uint64_t id, std::function<void()> work);

  PMutex m_mutex{true};
  std::mutex m_jobsMutex;
  std::condition_variable m_changed;
  // Guarded by m_jobsMutex. A job moves its own thread from `m_running` to
  // `m_ended` as its last step; whoever comes next joins it, so that no job
  // thread is left running code of the module once the wait returns.
  std::map<uint64_t, std::thread> m_running;
  std::vector<std::thread> m_ended;
  uint64_t m_next = 0;
};

#endif  // TEV_PASSES_PASSJOBS_H_
