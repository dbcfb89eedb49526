// The real programs (tev-peers, the host) as children of the test; what runs
// under them is read from /proc.
#ifndef TEV_TESTS_PEERS_PROGRAMPROCESS_H_
#define TEV_TESTS_PEERS_PROGRAMPROCESS_H_

#include <dirent.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "support/VUtil.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/NatsServer.h"
#include "tests/common/ScopedEnv.h"
#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"

inline bool OnPath(const std::string& program) {
  return tev::test::RunShell("command -v " + program + " >/dev/null").status == 0;
}

// "<folder>/channels.json" with the one channel the tests record, "ch-test".
inline std::string WriteTestCardChannel(const std::string& folder) {
  const std::string path = folder + "/channels.json";
  std::ofstream(path) << "[{\"id\": \"ch-test\", \"name\": \"Test Card\", \"path\": "
                         "\"lavfi:testsrc\", \"mimeType\": \"video/x-tv\", \"mediaType\": "
                         "\"tv.channel\"}]";
  return path;
}

using tev::test::ReadFile;

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

// The module in the host program and the real tev-peers on a loopback bus,
// with a client satellite that asks them.
template <typename Base = ::testing::Test>
class HostAndPeers : public Base {
 protected:
  explicit HostAndPeers(const std::wstring& client = L"TestClient",
                        const std::vector<std::wstring>& methods = {})
      : client_(client, methods) {}
  void TearDown() override {
    client_.Leave();
    host_.Stop(SIGINT, 15000);
    if (peers_.Running() && peers_.Stop(SIGTERM, 15000) == -1) {
      ADD_FAILURE() << "tev-peers did not stop: " << ReadFile(PeersLog());
    }
    zone_.reset();
    tzset();
  }
  // Starts the bus and tev-peers; successful once the thumbnail service (the
  // last peer) has joined. The settings file has the lines of `registry`; the
  // programs and the test run in `zone` unless it is empty.
  ::testing::AssertionResult StartPeers(const std::vector<std::string>& arguments,
                                        const std::string& registry = "",
                                        const char* zone = "Europe/London") {
    if (!server_.Start()) return ::testing::AssertionFailure() << "nats-server did not start";
    const std::string folder = dir_.path();
    std::ofstream(folder + "/registry.ini")
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=127.0.0.1:"
        << server_.Port() << "\n" << registry;
    env_ = {{"TEV_APPDATA_DIR", folder + "/appdata"}, {"TEV_DOCUMENTS_DIR", folder + "/documents"},
            {"TEV_REGISTRY_FILE", folder + "/registry.ini"}};
    if (zone[0] != '\0') {
      env_["TZ"] = zone;
      zone_.reset(new tev::test::ScopedEnv("TZ", zone));
      tzset();
    }
    client_.SetRequestTimeout(20000);
    if (client_.Join(server_.HostPort()) != 0) return ::testing::AssertionFailure() << "no client";
    std::vector<std::string> argv{TEV_PEERS_BINARY, "--host", "127.0.0.1:" + std::to_string(server_.Port()),
                                  "--data", folder + "/peers"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (!peers_.Start(argv, PeersLog(), env_)) return ::testing::AssertionFailure() << "no tev-peers";
    for (int i = 0; i < 200; ++i) {
      VELSTATUS status = VELSTATUS_UNKNOWN;
      client_.DirectoryPingSatellite(L"127.0.0.1", L"TevThumbnailer",
                                     static_cast<unsigned short>(server_.Port()), 500, &status);
      if (status == VELSTATUS_ONLINE) return ::testing::AssertionSuccess();
      if (!peers_.Running()) return ::testing::AssertionFailure() << "tev-peers ended: " << ReadFile(PeersLog());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ::testing::AssertionFailure() << "tev-peers did not join";
  }
  // Successful once the module answers a settings request.
  ::testing::AssertionResult StartHost() {
    if (!host_.Start({TEV_BINARY_DIR "/host/tevpvr-host", TEV_BINARY_DIR "/libTevPVR.so"}, HostLog(), env_)) {
      return ::testing::AssertionFailure() << "no host";
    }
    for (int i = 0; i < 400; ++i) {
      AutoVariant out, retcodes;
      if (client_.Request(L"ZoVIZ", L"GetPVRRecordPadding", tev::peers::Value::Array({}).get(), &out,
                          0, &retcodes) == 0) {
        return ::testing::AssertionSuccess();
      }
      if (!host_.Running()) return ::testing::AssertionFailure() << ReadFile(HostLog());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ::testing::AssertionFailure() << "the module did not join the bus";
  }
  std::string PeersLog() const { return dir_.path() + "/tev-peers.log"; }
  std::string HostLog() const { return dir_.path() + "/host.log"; }
  std::string DbPath() const { return dir_.path() + "/appdata/TevNetworks/TevPVR/TevPVR.db"; }

  tev::test::TempDir dir_;
  std::unique_ptr<tev::test::ScopedEnv> zone_;
  tev::test::NatsServer server_;
  tev::test::ChildProgram peers_, host_;
  tev::peers::ScriptedPeer client_;
  std::map<std::string, std::string> env_;
};

#endif  // TEV_TESTS_PEERS_PROGRAMPROCESS_H_
