// Short background jobs on passes (a refresh after a change, a property
// handed to a pass's schedules): each runs once on a detached thread that
// owns its work. Shutdown waits for the running ones before the database
// closes.
#ifndef TEV_PASSES_PASSJOBS_H_
#define TEV_PASSES_PASSJOBS_H_

#include <functional>

// Starts `work` on a detached thread; when no thread can be made, logs
// `what` at ERROR and drops the work. Any thread.
void StartPassJob(std::function<void()> work, const wchar_t* what);
// Returns when no job is running (jobs started meanwhile are waited for
// too). Any thread except a job's own.
void WaitForPassJobs();

#endif  // TEV_PASSES_PASSJOBS_H_
