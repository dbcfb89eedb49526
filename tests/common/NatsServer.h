// A real nats-server on a 127.0.0.1 port of its own for the duration of a test.
#ifndef TEV_TESTS_COMMON_NATSSERVER_H_
#define TEV_TESTS_COMMON_NATSSERVER_H_

#include <string>

#include "tests/common/ChildProgram.h"

namespace tev {
namespace test {

class NatsServer {
 public:
  // Starts the server (on a port the kernel chooses the first time, on the
  // same port after Stop) and waits until it accepts connections. False on failure.
  bool Start();
  // Kills the server and waits for it to end.
  void Stop();
  bool Restart() {
    Stop();
    return Start();
  }

  // A nats-server configuration file for the next Start (authorization,
  // permissions); the address and port given on the command line win.
  void SetConfigFile(const std::string& path) { config_ = path; }

  int Port() const { return port_; }
  // L"127.0.0.1:PORT", the form of the directory host setting.
  std::wstring HostPort() const;

 private:
  ChildProgram process_;
  int port_ = 0;
  std::string config_;
};

// A port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_NATSSERVER_H_
