// Syncs the write-ahead log on one long-lived thread for GroupSync's
// background syncs: a new thread per sync costs a good part of the wait it
// is meant to hide. Jobs run in the order they are begun.
//
// Any thread. The thread ends (after its queued jobs) when the module is
// unloaded or the process exits; a forked child gets a thread of its own.
#ifndef TEV_DB_LOGSYNCER_H_
#define TEV_DB_LOGSYNCER_H_

#include <future>
#include <string>

namespace log_syncer {

// Begins an fdatasync of the file at `path` (opened read-only for it).
// False when nothing could be begun (no thread); otherwise *done becomes
// true once the file is synced, false when it could not be.
bool Begin(const std::string& path, std::future<bool>* done);

}  // namespace log_syncer

#endif  // TEV_DB_LOGSYNCER_H_
