// A real nats-server on a free 127.0.0.1 port for the duration of a test.
#ifndef TEV_TESTS_COMMON_NATSSERVER_H_
#define TEV_TESTS_COMMON_NATSSERVER_H_

#include <sys/types.h>

#include <string>

namespace tev {
namespace test {

class NatsServer {
 public:
  NatsServer() = default;
  ~NatsServer();
  NatsServer(const NatsServer&) = delete;
  NatsServer& operator=(const NatsServer&) = delete;

  // Starts the server (on a new free port the first time, on the same port
  // after Stop) and waits until it accepts connections. False on failure.
  bool Start();
  // Kills the server and waits for it to end.
  void Stop();
  bool Restart() {
    Stop();
    return Start();
  }

  int Port() const { return port_; }
  // L"127.0.0.1:PORT", the form of the directory host setting.
  std::wstring HostPort() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_NATSSERVER_H_
