// Child processes of the peer tests: the real programs (tev-peers, the
// host) run as children, and what runs under them is read from /proc.
#ifndef TEV_TESTS_PEERS_PROGRAMPROCESS_H_
#define TEV_TESTS_PEERS_PROGRAMPROCESS_H_

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "support/VUtil.h"
#include "tests/common/ChildProgram.h"

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

// A program as a child of the test, its output appended to a log file;
// killed at the latest when the object goes.
class ProgramProcess {
 public:
  explicit ProgramProcess(std::string program) : program_(std::move(program)) {}
  // `environment` entries ("NAME=value") are added to the test's own.
  bool Start(const std::vector<std::string>& arguments, const std::string& log,
             const std::vector<std::string>& environment = {}) {
    std::map<std::string, std::string> env;
    for (const std::string& entry : environment) {
      const size_t equals = entry.find('=');
      env[entry.substr(0, equals)] = equals == std::string::npos ? "" : entry.substr(equals + 1);
    }
    std::vector<std::string> argv{program_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return child_.Start(argv, log, env);
  }
  bool Running() { return child_.Running(); }
  // Sends `signal` and waits up to `timeoutMs` for the program to end; its
  // wait status, or -1 when it did not end (it is killed then).
  int Stop(int signal, int timeoutMs) { return child_.Stop(signal, timeoutMs); }
  pid_t pid() const { return child_.pid(); }

 private:
  std::string program_;
  tev::test::ChildProgram child_;
};

// Waits until every peer of the program is on the bus (the thumbnail
// service joins last), asking through `asker` (any satellite that pings).
template <typename Asker>
inline ::testing::AssertionResult AllJoined(Asker& asker, int port,
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

// The environment of a host program whose data lies below `folder`, in
// London time (neither a guide's zone nor UTC), with the bus at `hostPort`
// written into its settings file "<folder>/registry.ini".
inline std::vector<std::string> HostEnvironment(const std::string& folder,
                                                const std::string& hostPort) {
  std::ofstream(folder + "/registry.ini")
      << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
      << "velDirectory.host=" << hostPort << "\n";
  return {"TZ=Europe/London", "TEV_APPDATA_DIR=" + folder + "/appdata",
          "TEV_DOCUMENTS_DIR=" + folder + "/documents",
          "TEV_REGISTRY_FILE=" + folder + "/registry.ini"};
}

// Waits until the module in `host` answers a settings request.
inline ::testing::AssertionResult ModuleAnswers(tev::peers::ScriptedPeer& client,
                                                ProgramProcess& host, const std::string& log) {
  for (int i = 0; i < 400; ++i) {
    AutoVariant out, retcodes;
    if (client.Request(L"ZoVIZ", L"GetPVRRecordPadding", tev::peers::Value::Array({}).get(), &out,
                       0, &retcodes) == 0) {
      return ::testing::AssertionSuccess();
    }
    if (!host.Running()) return ::testing::AssertionFailure() << ReadFile(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ::testing::AssertionFailure() << "the module did not join the bus";
}

#endif  // TEV_TESTS_PEERS_PROGRAMPROCESS_H_
