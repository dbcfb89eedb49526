#include "tests/common/NatsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/TempRoot.h"

namespace tev {
namespace test {

namespace {

// Every test program with a bus, and the programs it starts, stops at a request
// waited for under the engine lock (vel/VelSatellite.cpp).
[[maybe_unused]] const bool g_strictLocks = (setenv("TEV_STRICT_LOCKS", "1", 0), true);

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// The port a server wrote into its ports file in `dir`; 0 until it has.
int PortFromFile(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::ifstream in(entry.path());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // {"nats":["nats://127.0.0.1:PORT"],...}, "tls://" with TLS on.
    const size_t key = text.find("\"nats\":");
    const size_t at = key == std::string::npos ? key : text.find("127.0.0.1:", key);
    if (at != std::string::npos) return std::atoi(text.c_str() + at + 10);
  }
  return 0;
}

}  // namespace

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

bool NatsServer::Start() {
  if (process_.Running()) return true;
  // The kernel chooses the first port: one picked beforehand could be taken by
  // a parallel test's server in between.
  TempDir ports("tev-nats-ports.");
  std::vector<std::string> argv{"nats-server", "-a", "127.0.0.1", "-p",
                                port_ == 0 ? "-1" : std::to_string(port_)};
  if (port_ == 0) argv.insert(argv.end(), {"--ports_file_dir", ports.path()});
  if (!config_.empty()) argv.insert(argv.begin() + 1, {"-c", config_});
  if (!process_.Start(argv, "/dev/null")) return false;
  for (int i = 0; i < 200 && process_.Running(); ++i) {  // at most 10 s
    if (port_ == 0) port_ = PortFromFile(ports.path());
    if (port_ != 0 && Accepts(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
  return false;
}

void NatsServer::Stop() { process_.Stop(SIGKILL, 5000); }

std::wstring NatsServer::HostPort() const { return L"127.0.0.1:" + std::to_wstring(port_); }

}  // namespace test
}  // namespace tev
