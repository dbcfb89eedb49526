// tev-web's guide cache against a real bus: a loopback nats-server and the
// guide peer answering in this process. The cache's clock is the test's.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "peers/Peers.h"
#include "platform/WideText.h"
#include "tests/common/LocalTime.h"
#include "tests/common/NatsServer.h"
#include "tests/common/TempRoot.h"
#include "web/BusLink.h"
#include "web/GuideCache.h"

namespace {

using nlohmann::json;

const int64_t kHour = 3600;
const int64_t kKeepMs = 60000;

tev::peers::GuideProgram Show(const std::wstring& title, int64_t utc, int32_t seconds) {
  tev::peers::GuideProgram p;
  p.title = title;
  p.start = tev::test::WallClock(utc);  // the guide's clock is local wall time
  p.duration = seconds;
  return p;
}

tev::peers::GuideChannel Channel(const std::wstring& name, std::vector<tev::peers::GuideProgram> programs) {
  tev::peers::GuideChannel channel;
  channel.name = name;
  channel.mediumId = L"ch-" + name;
  channel.programs = std::move(programs);
  return channel;
}

class WebGuideCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nats_.Start());
    ASSERT_EQ(guide_.Join(nats_.HostPort()), 0);
    velctl::BusOptions options;
    options.host = "127.0.0.1:" + std::to_string(nats_.Port());
    // A settings file without credentials: the test's bus takes none.
    options.settings = dir_.path() + "/none.ini";
    std::ofstream(options.settings) << "";
    options.name = "guide-cache-test";
    options.timeoutMs = 10000;
    bus_.reset(new web::BusLink(options, [](const std::string&) {}));
    bus_->Start();
    for (int i = 0; i < 200 && !bus_->Joined(); ++i) usleep(50000);
    ASSERT_TRUE(bus_->Joined()) << bus_->JoinError();
    cache_.reset(new web::GuideCache(*bus_, [this] { return nowMs_.load(); }, kKeepMs));
    // An hour boundary a day ahead: every window below is whole buckets.
    from_ = (static_cast<int64_t>(time(nullptr)) / kHour + 24) * kHour;
  }

  void TearDown() override {
    cache_.reset();
    if (bus_) bus_->Stop();
    guide_.Leave();
  }

  // Title -> start of every programme OnAir(from, to) lists.
  std::multimap<std::string, int64_t> OnAir(int64_t from, int64_t to) {
    std::string text;
    velctl::Answer answer = cache_->OnAir(from, to, &text);
    EXPECT_EQ(answer.exit, velctl::kOk) << answer.error;
    std::multimap<std::string, int64_t> shows;
    const json listings = json::parse(text, nullptr, false);
    EXPECT_TRUE(listings.is_object()) << text.substr(0, 200);
    if (!listings.is_object()) return shows;
    for (const json& channel : listings["channels"]) {
      for (const json& p : channel["programmes"]) shows.emplace(p["title"].get<std::string>(), p["start"].get<int64_t>());
    }
    return shows;
  }

  size_t Asked() const { return guide_.CountOf(L"SearchTVListings"); }

  tev::test::TempDir dir_;
  tev::test::NatsServer nats_;
  tev::peers::GuidePeer guide_;
  std::unique_ptr<web::BusLink> bus_;
  std::atomic<int64_t> nowMs_{1000000};
  std::unique_ptr<web::GuideCache> cache_;
  int64_t from_ = 0;
};

TEST_F(WebGuideCache, ListsWhatIsOnAirInTheWindowIncludingWhatStartedBefore) {
  guide_.SetListings({Channel(L"One",
                               {
                                   // Runs into the window.
                                   Show(L"Long Film \"quoted\" <b>", from_ - 2 * kHour - 1800, 3 * kHour),
                                   Show(L"Ends At The Start", from_ - kHour, kHour),
                                   Show(L"Flash", from_, 0),
                                   Show(L"Inside", from_ + 1800, 1800),
                                   Show(L"Starts At The End", from_ + 2 * kHour, 1800),
                               }),
                       Channel(L"Two", {Show(L"Inside", from_ + kHour, 600)})});

  EXPECT_EQ(
      OnAir(from_, from_ + 2 * kHour),
      (std::multimap<std::string, int64_t>{{"Long Film \"quoted\" <b>", from_ - 2 * kHour - 1800},
                                           {"Flash", from_},
                                           {"Inside", from_ + 1800},
                                           {"Inside", from_ + kHour}}));
}

TEST_F(WebGuideCache, KeepsWhatItAskedForAWhileAndAsksAgainAfter) {
  guide_.SetListings({Channel(L"One", {Show(L"First Version", from_ + 600, 1800)})});
  EXPECT_EQ(OnAir(from_, from_ + kHour).count("First Version"), 1u);
  const size_t asked = Asked();
  EXPECT_GT(asked, 0u);

  guide_.SetListings({Channel(L"One", {Show(L"Second Version", from_ + 600, 1800)})});
  nowMs_ += kKeepMs - 1;
  // A narrower window inside what was asked is answered from the buckets kept.
  EXPECT_EQ(OnAir(from_ + 60, from_ + 1800).count("First Version"), 1u);
  EXPECT_EQ(Asked(), asked);

  nowMs_ += 1;
  EXPECT_EQ(OnAir(from_, from_ + kHour).count("Second Version"), 1u);
  EXPECT_GT(Asked(), asked);
}

TEST_F(WebGuideCache, AnHourFullerThanOneAnswerComesBackWhole) {
  // 2,700 programmes in one hour: more than the guide gives in one answer.
  std::vector<tev::peers::GuideChannel> channels;
  for (int c = 0; c < 45; ++c) {
    std::vector<tev::peers::GuideProgram> minutes;
    for (int m = 0; m < 60; ++m) minutes.push_back(Show(L"Minute " + std::to_wstring(m), from_ + m * 60, 60));
    channels.push_back(Channel(L"Channel " + std::to_wstring(c), minutes));
  }
  guide_.SetListings(channels);
  const auto shows = OnAir(from_, from_ + kHour);
  EXPECT_EQ(shows.size(), 45u * 60u);
  EXPECT_EQ(shows.count("Minute 59"), 45u);
}

TEST_F(WebGuideCache, AFailureIsNotKeptAndWarmingSavesTheAsking) {
  guide_.SetListings({Channel(L"One", {Show(L"Back Again", from_ + 600, 1800)})});
  guide_.Leave();
  std::string text;
  velctl::Answer failed = cache_->OnAir(from_, from_ + kHour, &text);
  EXPECT_NE(failed.exit, velctl::kOk);
  EXPECT_FALSE(failed.error.empty());

  ASSERT_EQ(guide_.Join(nats_.HostPort()), 0);
  guide_.ClearRequests();
  // Warming asks for the buckets of the window (and the hours before it).
  cache_->Warm(from_, from_ + kHour);
  const size_t buckets = web::GuideCache::kLookbackSeconds / kHour + 1;
  ASSERT_TRUE(guide_.WaitFor(L"SearchTVListings", buckets, 10000));
  EXPECT_EQ(OnAir(from_, from_ + kHour).count("Back Again"), 1u);
  EXPECT_EQ(Asked(), buckets);
}

}  // namespace
