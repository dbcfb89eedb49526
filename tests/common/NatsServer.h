// A real nats-server on a 127.0.0.1 port of its own for the duration of a test.
#ifndef TEV_TESTS_COMMON_NATSSERVER_H_
#define TEV_TESTS_COMMON_NATSSERVER_H_

#include <string>

#include "tests/common/ChildProgram.h"

namespace tev {
namespace test {

class NatsServer {
 public:
  // Waits until the server accepts connections; on the same port after Stop.
  bool Start();
  void Stop();

  // A configuration file for the next Start; address and port are the server's.
  void SetConfigFile(const std::string& path) { config_ = path; }

  int Port() const { return port_; }
  // The form of the directory host setting.
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
