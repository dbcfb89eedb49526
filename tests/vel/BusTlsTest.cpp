// The bus over TLS only: a real nats-server that verifies its clients, with
// a CA, a server and a client certificate made by openssl for the test.
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "support/Registry.h"
#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/db/DbTestSupport.h"
#include "vel/BusCredentials.h"
#include "vel/VelSatellite.h"

namespace {

using tev::test::EchoSatellite;

// ca.pem signs server.pem (for 127.0.0.1) and client.pem; other.pem is a
// client certificate the CA never signed.
bool MakeCertificates(const std::string& dir) {
  const std::string script =
      "cd '" + dir + "' && "
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=tev-test-ca "
      "  -keyout ca.key -out ca.pem && "
      "for who in server client; do "
      "  openssl req -newkey rsa:2048 -nodes -subj /CN=$who -keyout $who.key -out $who.csr && "
      "  printf 'subjectAltName=IP:127.0.0.1\\n' >$who.ext && "
      "  openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
      "    -extfile $who.ext -out $who.pem || exit 1; "
      "done && "
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other -keyout other.key "
      "  -out other.pem >/dev/null 2>&1";
  return std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

class BusTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeCertificates(dir_.path()));
    const std::string conf = dir_.path() + "/nats.conf";
    std::ofstream(conf) << "tls {\n  cert_file: \"" << dir_.path() << "/server.pem\"\n"
                        << "  key_file: \"" << dir_.path() << "/server.key\"\n"
                        << "  ca_file: \"" << dir_.path() << "/ca.pem\"\n  verify: true\n}\n";
    server_.SetConfigFile(conf);
    ASSERT_TRUE(server_.Start());
  }
  std::string File(const std::string& name) const { return dir_.path() + "/" + name; }

  dbtest::TempDir dir_;
  dbtest::LogCapture log_;
  tev::test::NatsServer server_;
};

TEST_F(BusTlsTest, OnlyClientsWithACertificateOfTheCaJoin) {
  const std::string settings = File("registry.ini");
  std::ofstream(settings) << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
                          << "velDirectory.host=" << tev::ToStdUtf8(server_.HostPort()) << "\n"
                          << "velDirectory.ca=" << File("ca.pem") << "\n"
                          << "velDirectory.cert=" << File("client.pem") << "\n"
                          << "velDirectory.key=" << File("client.key") << "\n";
  CRegistryImpl registry(settings);
  const vel::BusCredentials good = vel::ReadBusCredentials(registry);

  EchoSatellite module;
  module.SetCredentials(good);
  ASSERT_EQ(module.Connect(server_.HostPort(), L"ZoVIZ"), 0) << tev::ToStdUtf8(log_->Dump());
  EchoSatellite client;
  client.SetCredentials(good);
  ASSERT_EQ(client.Connect(server_.HostPort(), L"velctl-1"), 0) << tev::ToStdUtf8(log_->Dump());
  AutoVariant in, out, ret;
  VUtil::CreateArray(&in, VT_VARIANT, 1);
  VUtil::PutElement(&in, 0, std::wstring(L"sealed"));
  ASSERT_EQ(client.Request(L"ZoVIZ", L"Echo", in.get(), &out, 5000, &ret), 0);
  EXPECT_EQ(VUtil::GetStringElement(out.get(), 0), L"sealed");

  vel::BusCredentials noCertificate = good;
  noCertificate.certFile.clear();
  noCertificate.keyFile.clear();
  vel::BusCredentials stranger = good;
  stranger.certFile = File("other.pem");
  stranger.keyFile = File("other.key");
  const struct {
    const char* what;
    vel::BusCredentials credentials;
  } refused[] = {{"in the clear", vel::BusCredentials()},
                 {"without a client certificate", noCertificate},
                 {"with a certificate of another CA", stranger}};
  for (const auto& c : refused) {
    EchoSatellite intruder;
    intruder.SetCredentials(c.credentials);
    EXPECT_NE(intruder.Connect(server_.HostPort(), L"Intruder"), 0) << c.what;
  }

  // A certificate whose key is missing or not its own is said before connecting.
  vel::BusCredentials mismatched = good;
  mismatched.keyFile = File("other.key");
  vel::BusCredentials keyless = good;
  keyless.keyFile = File("missing.key");
  for (const vel::BusCredentials& credentials : {mismatched, keyless}) {
    log_->Clear();
    EchoSatellite broken;
    broken.SetCredentials(credentials);
    EXPECT_NE(broken.Connect(server_.HostPort(), L"Broken"), 0);
    EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"cannot use the client certificate " +
                                             tev::FromStdUtf8(File("client.pem"))))
        << tev::ToStdUtf8(log_->Dump());
  }
  client.Disconnect();
  module.Disconnect();
}

}  // namespace
