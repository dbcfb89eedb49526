#include "tests/common/NatsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>

namespace tev {
namespace test {

namespace {

// Every test program with a bus stops at a request that the module waits
// for while holding the engine lock (vel/VelSatellite.cpp); so do the
// programs it starts (host, peers), which inherit the setting.
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

NatsServer::~NatsServer() { Stop(); }

bool NatsServer::Start() {
  if (pid_ > 0) return true;
  if (port_ == 0) port_ = FreeLoopbackPort();
  if (port_ == 0) return false;
  std::string port = std::to_string(port_);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    // The server goes with the test process, also when a test aborts.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int out = log_.empty() ? open("/dev/null", O_WRONLY)
                           : open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (config_.empty()) {
      execlp("nats-server", "nats-server", "-a", "127.0.0.1", "-p", port.c_str(),
             static_cast<char*>(nullptr));
    } else {
      execlp("nats-server", "nats-server", "-c", config_.c_str(), "-a", "127.0.0.1", "-p",
             port.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  for (int i = 0; i < 200; ++i) {  // at most 10 s
    if (Accepts(port_)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
  return false;
}

void NatsServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::wstring NatsServer::HostPort() const { return L"127.0.0.1:" + std::to_wstring(port_); }

}  // namespace test
}  // namespace tev
