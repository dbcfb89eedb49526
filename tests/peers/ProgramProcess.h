// Child processes of the peer tests: the real programs (tev-peers, the
// host) run as children, and what runs under them is read from /proc.
#ifndef TEV_TESTS_PEERS_PROGRAMPROCESS_H_
#define TEV_TESTS_PEERS_PROGRAMPROCESS_H_

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"

extern char** environ;

inline bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    const std::string candidate = dirs.substr(from, to - from) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

// Writes "<folder>/channels.json" with the one channel the tests record,
// "ch-test" (a lavfi test card on television); its path.
inline std::string WriteTestCardChannel(const std::string& folder) {
  const std::string path = folder + "/channels.json";
  std::ofstream(path) << "[{\"id\": \"ch-test\", \"name\": \"Test Card\", \"path\": "
                         "\"lavfi:testsrc\", \"mimeType\": \"video/x-tv\", \"mediaType\": "
                         "\"tv.channel\"}]";
  return path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Field 4 (parent) and 3 (state) of /proc/<pid>/stat.
inline bool ProcStat(pid_t pid, pid_t* parent, char* state, std::string* name) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t open = stat.find('('), close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size()) {
    return false;
  }
  if (name) *name = stat.substr(open + 1, close - open - 1);
  if (state) *state = stat[close + 2];
  if (parent) *parent = static_cast<pid_t>(std::atoi(stat.c_str() + close + 4));
  return true;
}

inline std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return children;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    pid_t ppid = 0;
    if (pid > 0 && ProcStat(pid, &ppid, nullptr, nullptr) && ppid == parent) {
      children.push_back(pid);
    }
  }
  closedir(proc);
  return children;
}

// Running, as opposed to gone or a zombie nobody reaped.
inline bool Alive(pid_t pid) {
  char state = 0;
  return ProcStat(pid, nullptr, &state, nullptr) && state != 'Z';
}

// A program as a child of the test, its output in a log file; killed at
// the latest when the object goes.
class ProgramProcess {
 public:
  explicit ProgramProcess(std::string program) : program_(std::move(program)) {}
  ~ProgramProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // `environment` entries ("NAME=value") are added to the test's own.
  bool Start(const std::vector<std::string>& arguments, const std::string& log,
             const std::vector<std::string>& environment = {}) {
    std::vector<std::string> env = environment;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args{program_};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
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
  std::string program_;
  pid_t pid_ = -1;
  int status_ = -1;
};


// Waits until every peer of the program is on the bus (the thumbnail
// service joins last), asking through `asker`.
inline ::testing::AssertionResult AllJoined(tev::peers::ScriptedPeer& asker, int port,
                                            ProgramProcess& peers, const std::string& log,
                                            int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    VELSTATUS status = VELSTATUS_UNKNOWN;
    asker.DirectoryPingSatellite(L"127.0.0.1", L"TevThumbnailer", static_cast<unsigned short>(port),
                                 500, &status);
    if (status == VELSTATUS_ONLINE) return ::testing::AssertionSuccess();
    if (!peers.Running()) return ::testing::AssertionFailure() << "tev-peers ended: " << ReadFile(log);
    if (std::chrono::steady_clock::now() > deadline) {
      return ::testing::AssertionFailure() << "tev-peers did not join";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

#endif  // TEV_TESTS_PEERS_PROGRAMPROCESS_H_
