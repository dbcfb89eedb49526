// Child processes of the stand-in peers (ffmpeg): started quietly with a
// clean signal state, and ended within a bounded time.
#ifndef TEV_PEERS_CHILDPROCESS_H_
#define TEV_PEERS_CHILDPROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace tev {
namespace peers {

// Runs a program (looked up in PATH) with stdin, stdout and stderr on
// /dev/null; its pid or -1. The child starts with no signal blocked and
// every signal at its default action, whatever the calling thread blocks or
// the process ignores: tev-peers blocks SIGINT and SIGTERM for sigwait, and
// an ffmpeg inheriting that mask would never hear the SIGINT that stops it.
// With `errorFile`, stderr goes into that file (created or emptied).
pid_t SpawnQuiet(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& errorFile = std::string());

// Reaps `pid` if it has ended. True with *status when it has (or when it
// is no child of ours any more, *status then 0); never blocks.
bool ReapIfEnded(pid_t pid, int* status);

// Waits up to `timeoutMs` for `pid` to end; then sends SIGKILL and reaps
// it. The wait status (killed: WIFSIGNALED with SIGKILL).
int WaitOrKill(pid_t pid, int timeoutMs);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_CHILDPROCESS_H_
