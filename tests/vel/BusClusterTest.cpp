// A directory host that names several bus servers: any of them will do (the
// fail-over between routed nodes is the deploy script test's, on loopback).
#include <string>

#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/db/DbTestSupport.h"

namespace {

using tev::test::EchoSatellite;

TEST(BusCluster, AnyListedServerWillDoAndNoneAnsweringNamesThemAll) {
  dbtest::LogCapture log;
  tev::test::NatsServer server;
  ASSERT_TRUE(server.Start());
  const std::wstring up = server.HostPort();
  const std::wstring dead = L"127.0.0.1:" + std::to_wstring(tev::test::FreeLoopbackPort());

  // The first server of the list is down: the module joins the other, and says so.
  EchoSatellite module;
  ASSERT_EQ(module.Connect(dead + L", " + up, L"ZoVIZ"), 0) << tev::ToStdUtf8(log->Dump());
  EXPECT_TRUE(log->HasPart(LOG_INFO, L"joined the bus server nats://" + up + L" as ZoVIZ"))
      << tev::ToStdUtf8(log->Dump());
  module.Disconnect();

  server.Stop();
  log->Clear();
  EchoSatellite stranded;
  EXPECT_NE(stranded.Connect(dead + L"," + up + L",", L"ZoVIZ"), 0);
  EXPECT_TRUE(log->HasPart(LOG_ERROR, L"nats://" + dead + L", nats://" + up))
      << tev::ToStdUtf8(log->Dump());
}

}  // namespace
