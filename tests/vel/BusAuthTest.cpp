// The bus with the users and permissions scripts/nats-auth.sh writes, on a
// real nats-server on loopback.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/Registry.h"
#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/db/DbTestSupport.h"
#include "vel/BusCredentials.h"
#include "vel/VelSatellite.h"

namespace {

using Offerer = tev::test::EchoSatellite;

class BusAuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    etc_ = dir_.path() + "/etc";
    moduleSettings_ = dir_.path() + "/registry.ini";
    std::ofstream(moduleSettings_) << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
                                      "velDirectory.host=127.0.0.1:4222\n"
                                      "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\n"
                                      "LogLevel=4\n";
    const std::string command = std::string(TEV_SOURCE_DIR) + "/scripts/nats-auth.sh '" + etc_ +
                                "' '" + moduleSettings_ + "' 4222";
    ASSERT_EQ(std::system(command.c_str()), 0);
    server_.SetConfigFile(etc_ + "/nats.conf");
    ASSERT_TRUE(server_.Start());
  }
  vel::BusCredentials From(const std::string& settings) {
    CRegistryImpl registry(settings);
    return vel::ReadBusCredentials(registry);
  }

  dbtest::TempDir dir_;
  dbtest::LogCapture log_;
  std::string etc_, moduleSettings_;
  tev::test::NatsServer server_;
};

TEST_F(BusAuthTest, OnlyKnownUsersJoinAndEachDoesOnlyWhatItMay) {
  const vel::BusCredentials module = From(moduleSettings_);
  EXPECT_EQ(module.user, "pvr");
  EXPECT_FALSE(module.password.empty());
  // The script kept what the module's file held.
  CRegistryImpl registry(moduleSettings_);
  uint32_t level = 0;
  EXPECT_TRUE(registry.GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &level));
  EXPECT_EQ(level, 4u);

  Offerer pvr;
  pvr.SetCredentials(module);
  ASSERT_EQ(pvr.Connect(server_.HostPort(), L"ZoVIZ"), 0);

  Offerer velctl;
  velctl.SetCredentials(From(etc_ + "/velctl.ini"));
  ASSERT_EQ(velctl.Connect(server_.HostPort(), L"velctl-1"), 0);
  AutoVariant in, out, ret;
  VUtil::CreateArray(&in, VT_VARIANT, 1);
  VUtil::PutElement(&in, 0, std::wstring(L"hello"));
  ASSERT_EQ(velctl.Request(L"ZoVIZ", L"Echo", in.get(), &out, 0, &ret), 0);
  EXPECT_EQ(VUtil::GetStringElement(out.get(), 0), L"hello");

  // No credentials, or wrong ones: no connection at all.
  Offerer stranger;
  EXPECT_NE(stranger.Connect(server_.HostPort(), L"Stranger"), 0);
  vel::BusCredentials wrong = module;
  wrong.password += "x";
  Offerer guesser;
  guesser.SetCredentials(wrong);
  EXPECT_NE(guesser.Connect(server_.HostPort(), L"Guesser"), 0);

  // velctl and the peers may not answer in the module's name; the refusal is logged.
  pvr.Disconnect();
  log_->Clear();
  for (const char* file : {"/velctl.ini", "/peers.ini"}) {
    Offerer impostor;
    impostor.SetCredentials(From(etc_ + file));
    impostor.Connect(server_.HostPort(), L"ZoVIZ");
    for (int i = 0; i < 200 && !log_->HasPart(LOG_ERROR, L"permission violation"); ++i) {
      usleep(10000);
    }
    EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"permission violation")) << file << tev::ToStdUtf8(log_->Dump());
    EXPECT_NE(velctl.Request(L"ZoVIZ", L"Echo", in.get(), &out, 0, &ret), 0) << file;
    impostor.Disconnect();
    log_->Clear();
  }
  velctl.Disconnect();
}

TEST_F(BusAuthTest, AnUnreadableCaFileStopsTheConnectionInsteadOfGoingInTheClear) {
  vel::BusCredentials credentials = From(moduleSettings_);
  credentials.caFile = dir_.path() + "/missing-ca.pem";
  Offerer pvr;
  pvr.SetCredentials(credentials);
  EXPECT_NE(pvr.Connect(server_.HostPort(), L"ZoVIZ"), 0);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"missing-ca.pem"));
}

TEST_F(BusAuthTest, ABroadcastListenerJoinsAsVelctlWithoutRefusals) {
  // velctl watch and the page listen with velctl's user, which may not take requests.
  std::atomic<int> heard{0};
  tev::test::OfferingSatellite listener;
  listener.Offer(L"NotifyPVRRecordingChange", [&heard](const VARIANT&, VARIANT*) {
    ++heard;
    return 0;
  });
  listener.SetBroadcastsOnly(true);
  listener.SetCredentials(From(etc_ + "/velctl.ini"));
  ASSERT_EQ(listener.Connect(server_.HostPort(), L"velctl-7"), 0);

  Offerer pvr;
  pvr.SetCredentials(From(moduleSettings_));
  ASSERT_EQ(pvr.Connect(server_.HostPort(), L"ZoVIZ"), 0);
  AutoVariant in, out, ret;
  for (int i = 0; i < 500 && heard.load() == 0; ++i) {
    pvr.Request(L"ALL", L"NotifyPVRRecordingChange", in.get(), &out, 0, &ret);
    usleep(10000);
  }
  EXPECT_GT(heard.load(), 0);
  // Nobody reaches it directly, and the server refused nothing.
  EXPECT_NE(pvr.Request(L"velctl-7", L"NotifyPVRRecordingChange", in.get(), &out, 0, &ret), 0);
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"permission violation")) << tev::ToStdUtf8(log_->Dump());
  listener.Disconnect();
  pvr.Disconnect();
}

}  // namespace
