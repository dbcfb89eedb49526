// Children of the peers start with a clean signal state and end in bounded
// time whatever they do.
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "peers/ChildProcess.h"

namespace {

using tev::peers::SpawnQuiet;
using tev::peers::WaitOrKill;

// Blocks or ignores a signal in this process for the scope.
class SignalState {
 public:
  SignalState(int signal, bool ignore) : signal_(signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &oldMask_);
    struct sigaction ignored {};
    ignored.sa_handler = ignore ? SIG_IGN : SIG_DFL;
    sigaction(signal, &ignored, &oldAction_);
  }
  ~SignalState() {
    sigaction(signal_, &oldAction_, nullptr);
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }

 private:
  int signal_;
  sigset_t oldMask_;
  struct sigaction oldAction_;
};

TEST(ChildProcess, ChildHearsSignalsTheParentBlocksOrIgnores) {
  for (int signal : {SIGINT, SIGTERM}) {
    for (bool ignore : {false, true}) {
      SignalState state(signal, ignore);
      const pid_t pid = SpawnQuiet("sleep", {"30"});
      ASSERT_GT(pid, 0);
      kill(pid, signal);
      const int status = WaitOrKill(pid, 10000);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
          << "signal " << signal << (ignore ? " ignored" : " blocked") << " by the parent, status "
          << status;
    }
  }
}

TEST(ChildProcess, SpawnFailsForMissingProgramAndWaitKillsStragglers) {
  EXPECT_EQ(SpawnQuiet("/nonexistent/tev-no-such-program", {}), -1);

  const pid_t quick = SpawnQuiet("true", {});
  ASSERT_GT(quick, 0);
  const int done = WaitOrKill(quick, 10000);
  EXPECT_TRUE(WIFEXITED(done) && WEXITSTATUS(done) == 0);

  // A child that outlives the wait is killed and reaped.
  const pid_t stubborn = SpawnQuiet("sleep", {"30"});
  ASSERT_GT(stubborn, 0);
  const int killed = WaitOrKill(stubborn, 300);
  EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL);
  EXPECT_EQ(waitpid(stubborn, nullptr, WNOHANG), -1);  // reaped
}

}  // namespace
