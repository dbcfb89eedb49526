#include <atomic>
#include <cstdlib>
#include <fstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "module/PVRVel.h"
#include "platform/WideText.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"
#include "vel/VelSatellite.h"

namespace fs = boost::filesystem;

namespace {

// The media library, answering "IsReady" with a non-zero code until told.
class MediaLibrary : public tev::test::OfferingSatellite {
 public:
  MediaLibrary() {
    Offer(L"IsReady", [this](const VARIANT&, VARIANT*) {
      const int n = ++polls;
      return (readyAtPoll >= 0 && n >= readyAtPoll) ? 0 : 3;
    });
  }
  std::atomic<int> polls{0};
  std::atomic<int> readyAtPoll{-1};
};

TEST(PVRVel, WaitForTevMediaPollsUntilReadyStopOrTheLimit) {
  fs::path root = fs::temp_directory_path() / fs::unique_path("tevpvr-wait-%%%%%%");
  fs::create_directories(root);
  tev::test::NatsServer server;
  ASSERT_TRUE(server.Start());
  {
    std::ofstream ini((root / "registry.ini").string());
    ini << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host="
        << tev::ToStdUtf8(server.HostPort()) << "\n";
  }
  setenv("TEV_REGISTRY_FILE", (root / "registry.ini").c_str(), 1);
  setenv("TEV_APPDATA_DIR", (root / "appdata").c_str(), 1);

  MediaLibrary media;
  ASSERT_EQ(media.Connect(server.HostPort(), L"TevMediaV2"), 0);
  PVRVel pvr;
  ASSERT_EQ(pvr.Vel().RegisterWithBus(), 0);
  // Each unanswered poll's 10 s pass at once on the fake clock.
  tev::test::FakeEnv env;
  env.SetInstantSleep(true);

  // Never ready: 181 polls (30 minutes and 10 seconds of budget), then false.
  EXPECT_FALSE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 181);
  EXPECT_EQ(env.ShiftSeconds(), 181 * 10);

  // Ready at the third poll.
  media.polls = 0;
  media.readyAtPoll = 3;
  EXPECT_TRUE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 3);

  // A stop that is already set ends the wait at once, with true.
  media.polls = 0;
  media.readyAtPoll = -1;
  pvr.StopEvent().Set();
  EXPECT_TRUE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 0);

  pvr.Vel().UnregisterFromBus();
  media.Disconnect();
  fs::remove_all(root);
}

}  // namespace
