// A season pass end to end: the module's endpoint, engine and pass store
// on a real database, and the real tev-peers program serving an XMLTV
// guide, the media library and the TV service on a loopback bus.
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/CVelAtl.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "tests/common/NatsServer.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/ProgramProcess.h"

namespace {

const int kJoinMs = 20000;

// "YYYYMMDDhhmmss" of local midnight `days` after today plus hh:mm.
std::string XmltvLocal(int days, int hour, int minute, int64_t* utc) {
  const time_t now = time(nullptr);
  struct tm fields {};
  localtime_r(&now, &fields);
  fields.tm_mday += days;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = 0;
  fields.tm_isdst = -1;
  *utc = static_cast<int64_t>(mktime(&fields));
  char text[20];
  strftime(text, sizeof text, "%Y%m%d%H%M%S", &fields);
  return text;
}

class PassGuideEndToEnd : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    zone_.reset(new dbtest::ScopedEnv("TZ", "Europe/London"));  // tev-peers inherits it
    tzset();
    OpenNew();
    ASSERT_TRUE(server_.Start()) << "nats-server did not start";
    const std::string video = dir_.path() + "/Recorded TV";
    mkdir(video.c_str(), 0755);
    Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(video));

    // Eight days of "Nightly" at 21:00 from tomorrow, every other one
    // marked new, the second a repeat, the others unmarked (new to the
    // pass: their sub-titles differ), and another programme after each.
    std::string xml = "<?xml version=\"1.0\"?>\n<tv>\n"
                      "<channel id=\"e2e.tev\"><display-name>E2E One</display-name></channel>\n";
    for (int day = 1; day <= 8; ++day) {
      int64_t start = 0, unused = 0;
      const std::string from = XmltvLocal(day, 21, 0, &start);
      if (day == 1) first_ = start;
      // The guide is asked for the coming seven days.
      if (day != 2 && start <= time(nullptr) + 7 * 86400) {
        expected_.push_back("Part " + std::to_string(day));
      }
      xml += "<programme start=\"" + from + "\" stop=\"" + XmltvLocal(day, 21, 30, &unused) +
             "\" channel=\"e2e.tev\"><title>Nightly</title><sub-title>Part " +
             std::to_string(day) + "</sub-title><category>Drama</category>" +
             (day % 2 == 1 ? "<new/>" : "") + (day == 2 ? "<previously-shown/>" : "") +
             "</programme>\n";
      xml += "<programme start=\"" + XmltvLocal(day, 22, 0, &unused) + "\" stop=\"" +
             XmltvLocal(day, 23, 0, &unused) +
             "\" channel=\"e2e.tev\"><title>Late News</title></programme>\n";
    }
    xml += "</tv>\n";
    dbtest::WriteBytes(dir_.path() + "/guide.xml", xml);

    ASSERT_TRUE(peers_.Start({"--host", "127.0.0.1:" + std::to_string(server_.Port()), "--data",
                              dir_.path() + "/data", "--guide", dir_.path() + "/guide.xml",
                              "--no-shift"},
                             LogPath()));
    vel_.reset(new CVelAtl(nullptr));
    vel_->SetRequestTimeout(10000);
    ASSERT_EQ(vel_->Connect(server_.HostPort(), L"ZoVIZ"), 0);
    SetLivePeers(&vel_->Peers());
    ASSERT_TRUE(AllJoined(*vel_, server_.Port(), peers_, LogPath(), kJoinMs));
  }
  void TearDown() override {
    WaitForPassJobs();
    SetLivePeers(nullptr);
    if (vel_) vel_->Disconnect();
    if (peers_.Stop(SIGTERM, 15000) == -1) ADD_FAILURE() << "tev-peers did not stop";
    DbFixture::TearDown();
  }
  std::string LogPath() const { return dir_.path() + "/tev-peers.log"; }

  tev::test::NatsServer server_;
  ProgramProcess peers_{TEV_PEERS_BINARY};
  std::unique_ptr<CVelAtl> vel_;
  int64_t first_ = 0;
  std::vector<std::string> expected_;  // sub-titles of the airings in the week new to the pass
};

TEST_F(PassGuideEndToEnd, NewEpisodesOfTheWeekBecomePublishedSchedules) {
  Schedules engine(vel_->Peers());
  SeasonPassChecker checker(engine);
  SeasonPasses passes(engine, checker);
  PassDescription pass;
  pass.user = L"viewer";
  pass.start = first_;
  pass.duration = 1800;
  pass.channelName = L"E2E One";
  pass.channelMedium = L"e2e.tev";
  pass.programName = L"Nightly";
  pass.channelMimetype = L"video/x-tv";
  pass.scheduleMode = 2;  // new episodes only
  pass.keepUntil = 1;
  const int32_t id = passes.Add(pass, nullptr, 0);
  ASSERT_GT(id, 0) << ReadFile(LogPath());

  dbtest::RawDb db(dbPath_);
  const auto rows = db.Rows("SELECT Status, StartTime, Subtitle, TevMediumId, ChannelName, Channel "
                            "FROM Schedules WHERE Owner = '" + std::to_string(id) + "' ORDER BY StartTime");
  ASSERT_EQ(rows.size(), expected_.size());
  ASSERT_GE(rows.size(), 3u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], "DVRSTATE_SCHEDULED");
    EXPECT_EQ(rows[i][1].substr(8), "210000");
    EXPECT_EQ(rows[i][2], expected_[i]);
    EXPECT_FALSE(rows[i][3].empty());  // the media library gave it an id
    EXPECT_EQ(rows[i][4], "E2E One");
    EXPECT_EQ(rows[i][5], "e2e.tev");
  }
  EXPECT_FALSE(db.Value("SELECT TevMediumId FROM SeasonPasses").empty());

  // The daily check finds nothing more in the same week.
  checker.CheckForNewEpisodes();
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules"), std::to_string(expected_.size()));
}

}  // namespace
