// Short background jobs on passes (a refresh after a change, a property
// handed to a pass's schedules): each runs once on a thread of its own that
// owns its work. Shutdown waits for the running ones before the database
// closes; every job thread is joined, never left to end on its own.
#ifndef TEV_PASSES_PASSJOBS_H_
#define TEV_PASSES_PASSJOBS_H_

#include <functional>

// Starts `work` on a thread of its own (and joins jobs that have ended);
// when no thread can be made, logs `what` at ERROR and drops the work. Any
// thread.
void StartPassJob(std::function<void()> work, const wchar_t* what);
// Returns when no job is running and every job thread has been joined
// (jobs started meanwhile are waited for too). Any thread except a job's
// own.
void WaitForPassJobs();

#endif  // TEV_PASSES_PASSJOBS_H_
