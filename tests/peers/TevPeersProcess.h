// The tev-peers program as a child process of a test, and reading the log
// file it writes.
#ifndef TEV_TESTS_PEERS_TEVPEERSPROCESS_H_
#define TEV_TESTS_PEERS_TEVPEERSPROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The tev-peers program as a child of the test; killed at the latest when
// the object goes, or with the test process when that aborts.
class TevPeersProcess {
 public:
  ~TevPeersProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Start(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<std::string> args{TEV_PEERS_BINARY};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      int in = open("/dev/null", O_RDONLY);
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0) _exit(127);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      execve(argv[0], argv.data(), environ);
      _exit(127);
    }
    return pid_ > 0;
  }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    status_ = status;
    return false;
  }
  // Sends `signal` and waits up to `timeoutMs` for the program to end; its
  // wait status, or -1 when it did not end.
  int Stop(int signal, int timeoutMs) {
    if (!Running()) return status_;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status_;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

#endif  // TEV_TESTS_PEERS_TEVPEERSPROCESS_H_
