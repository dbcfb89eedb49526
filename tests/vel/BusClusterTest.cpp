// Satellites on a cluster of three real nats-server nodes on loopback: the
// directory host names several servers, any of which will do.
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/db/DbTestSupport.h"
#include "vel/VelSatellite.h"

namespace {

using tev::test::EchoSatellite;
using tev::test::NatsServer;

// Three nodes routed to each other.
class LoopbackCluster {
 public:
  explicit LoopbackCluster(const std::string& folder) {
    int routes[3];
    for (int& port : routes) port = tev::test::FreeLoopbackPort();
    std::string list;
    for (int port : routes) list += (list.empty() ? "" : ", ") + Route(port);
    for (int i = 0; i < 3; ++i) {
      const std::string conf = folder + "/node" + std::to_string(i) + ".conf";
      std::ofstream(conf) << "cluster {\n  name: tev\n  listen: 127.0.0.1:" << routes[i]
                          << "\n  routes: [" << list << "]\n}\n";
      nodes_[i].reset(new NatsServer);
      nodes_[i]->SetConfigFile(conf);
    }
  }
  bool Start() {
    for (auto& node : nodes_) {
      if (!node->Start()) return false;
    }
    return true;
  }
  NatsServer& Node(int i) { return *nodes_[i]; }

 private:
  static std::string Route(int port) { return "nats://127.0.0.1:" + std::to_string(port); }
  std::unique_ptr<NatsServer> nodes_[3];
};

// Asks "Echo" until an answer comes (the cluster's routes and interest take
// a moment to form, and a fail-over a moment to happen).
bool EchoAnswers(VelSatellite& client, const std::wstring& text) {
  for (int attempt = 0; attempt < 400; ++attempt) {
    AutoVariant in, out, ret;
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, text);
    if (client.Request(L"ZoVIZ", L"Echo", in.get(), &out, 1000, &ret) == 0) {
      return VUtil::GetStringElement(out.get(), 0) == text;
    }
    usleep(25000);
  }
  return false;
}

TEST(BusCluster, AnyListedServerWillDoAndALostNodeIsLeftForAnother) {
  dbtest::TempDir dir;
  dbtest::LogCapture log;
  LoopbackCluster cluster(dir.path());
  ASSERT_TRUE(cluster.Start());
  const std::wstring a = cluster.Node(0).HostPort();
  const std::wstring c = cluster.Node(2).HostPort();
  const std::wstring dead = L"127.0.0.1:" + std::to_wstring(tev::test::FreeLoopbackPort());

  // The first server of the list is down: the module still joins, on the
  // other one, and says which.
  EchoSatellite module;
  ASSERT_EQ(module.Connect(dead + L", " + a, L"ZoVIZ"), 0) << tev::ToStdUtf8(log->Dump());
  EXPECT_TRUE(log->HasPart(LOG_INFO, L"joined the bus server nats://" + a + L" as ZoVIZ"))
      << tev::ToStdUtf8(log->Dump());

  // A client on another node reaches it through the routes.
  EchoSatellite client;
  ASSERT_EQ(client.Connect(c + L"," + dead, L"velctl-1"), 0);
  EXPECT_TRUE(EchoAnswers(client, L"through the cluster"));

  // The module's node goes: it moves to a node it learnt of and answers again.
  cluster.Node(0).Stop();
  EXPECT_TRUE(EchoAnswers(client, L"after the fail-over")) << tev::ToStdUtf8(log->Dump());
  EXPECT_TRUE(log->HasPart(LOG_INFO, L"reconnected to the bus server nats://127.0.0.1:"))
      << tev::ToStdUtf8(log->Dump());
  client.Disconnect();
  module.Disconnect();

  // No listed server answers: no connection, and the log names them all.
  cluster.Node(1).Stop();
  cluster.Node(2).Stop();
  log->Clear();
  EchoSatellite stranded;
  EXPECT_NE(stranded.Connect(dead + L"," + c + L",", L"ZoVIZ"), 0);
  EXPECT_TRUE(log->HasPart(LOG_ERROR, L"nats://" + dead + L", nats://" + c))
      << tev::ToStdUtf8(log->Dump());
}

}  // namespace
