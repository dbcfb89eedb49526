#include "tests/common/ChildProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace tev {
namespace test {

ChildProgram::~ChildProgram() {
  if (pid_ > 0) Stop(SIGKILL, 5000);
}

bool ChildProgram::Start(const std::vector<std::string>& argv, const std::string& log,
                         const std::map<std::string, std::string>& env) {
  if (argv.empty()) return false;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the test died before the line above
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    for (const auto& entry : env) setenv(entry.first.c_str(), entry.second.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  status_ = -1;
  return true;
}

bool ChildProgram::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  pid_ = -1;
  status_ = status;
  return false;
}

bool ChildProgram::Ended(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

int ChildProgram::Stop(int signal, int timeoutMs) {
  if (!Running()) return status_;
  kill(pid_, signal);
  if (Ended(timeoutMs)) return status_;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return -1;
}

int ChildProgram::WaitExit(int timeoutMs) {
  return Ended(timeoutMs) && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace test
}  // namespace tev
