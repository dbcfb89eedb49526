// A nats-server of its own on a free 127.0.0.1 port for the peer tests,
// stopped (SIGTERM, then SIGKILL) when the object goes.
#ifndef TEV_TESTS_PEERS_LOOPBACKBUS_H_
#define TEV_TESTS_PEERS_LOOPBACKBUS_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace peertest {

class LoopbackBus {
 public:
  LoopbackBus() {
    port_ = FreePort();
    if (port_ <= 0) return;
    const std::string port = std::to_string(port_);
    std::vector<std::string> args{"nats-server", "-a", "127.0.0.1", "-p", port};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "nats-server", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; pid_ > 0 && i < 100 && !Listening(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~LoopbackBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  LoopbackBus(const LoopbackBus&) = delete;
  LoopbackBus& operator=(const LoopbackBus&) = delete;

  bool ok() { return pid_ > 0 && Listening(); }
  int port() const { return port_; }
  std::wstring host() const { return L"127.0.0.1:" + std::to_wstring(port_); }
  std::string hostUtf8() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
  }
  bool Listening() const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return up;
  }

  int port_ = -1;
  pid_t pid_ = -1;
};

}  // namespace peertest

#endif  // TEV_TESTS_PEERS_LOOPBACKBUS_H_
