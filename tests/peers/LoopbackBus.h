// A nats-server of its own on a free 127.0.0.1 port for the peer tests,
// stopped when the object goes (and killed with the test process if that
// aborts: tests/common/NatsServer).
#ifndef TEV_TESTS_PEERS_LOOPBACKBUS_H_
#define TEV_TESTS_PEERS_LOOPBACKBUS_H_

#include <string>

#include "tests/common/NatsServer.h"

namespace peertest {

class LoopbackBus {
 public:
  LoopbackBus() { started_ = server_.Start(); }
  LoopbackBus(const LoopbackBus&) = delete;
  LoopbackBus& operator=(const LoopbackBus&) = delete;

  bool ok() { return started_; }
  int port() const { return server_.Port(); }
  std::wstring host() const { return server_.HostPort(); }
  std::string hostUtf8() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

 private:
  tev::test::NatsServer server_;
  bool started_ = false;
};

}  // namespace peertest

#endif  // TEV_TESTS_PEERS_LOOPBACKBUS_H_
