#include "peers/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace tev {
namespace peers {

pid_t SpawnQuiet(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& errorFile) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd == 2 && !errorFile.empty()) {
      posix_spawn_file_actions_addopen(&actions, fd, errorFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
      continue;
    }
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int failed = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

bool ReapIfEnded(pid_t pid, int* status) {
  int result = 0;
  pid_t done;
  do {
    done = waitpid(pid, &result, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid) {
    *status = result;
    return true;
  }
  if (done < 0) {  // ECHILD: reaped elsewhere, nothing left to wait for
    *status = 0;
    return true;
  }
  return false;
}

int WaitOrKill(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (!ReapIfEnded(pid, &status)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

}  // namespace peers
}  // namespace tev
