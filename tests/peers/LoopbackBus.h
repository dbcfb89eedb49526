// A nats-server of its own on a 127.0.0.1 port, up for the object's life.
#ifndef TEV_TESTS_PEERS_LOOPBACKBUS_H_
#define TEV_TESTS_PEERS_LOOPBACKBUS_H_

#include <string>

#include "tests/common/NatsServer.h"

namespace peertest {

class LoopbackBus {
 public:
  LoopbackBus() { started_ = server_.Start(); }

  bool ok() { return started_; }
  std::wstring host() const { return server_.HostPort(); }
  std::string hostUtf8() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

 private:
  tev::test::NatsServer server_;
  bool started_ = false;
};

}  // namespace peertest

#endif  // TEV_TESTS_PEERS_LOOPBACKBUS_H_
