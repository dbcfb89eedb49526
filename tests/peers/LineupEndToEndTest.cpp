// A tuner's line-up served over HTTP and a grabber's guide, end to end: the
// module in the host program and the real tev-peers on a loopback bus. The
// guide is shaped as North-American grabbers write it (ids unlike any
// channel name, channels known by number, times at -0800, sub-titles,
// episode numbers, credits, ratings). A season pass made through the
// library's own channel name must find every airing of the week, and
// nothing of a channel the line-up does not have. (The other line-up forms
// are read by ChannelLineup's tests and run whole by scripts.own_lineup.)
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "tests/common/XmltvText.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/LoopbackHttp.h"
#include "tests/peers/ProgramProcess.h"

namespace {

using tev::test::PacificText;

const char kGuideId[] = "I21760.labs.zap2it.com";
const char kOtherId[] = "I99999.labs.zap2it.com";
const int kAirings = 7;  // those of the next seven days

// The module's database time text (local time) of a UTC time.
std::string LocalText(int64_t utc) {
  const time_t at = static_cast<time_t>(utc);
  struct tm fields {};
  localtime_r(&at, &fields);
  char text[20];
  strftime(text, sizeof text, "%Y%m%d%H%M%S", &fields);
  return text;
}

std::string Programme(const std::string& channel, int64_t start, int minutes,
                      const std::string& title, int episode) {
  char progid[32], onscreen[16];
  snprintf(progid, sizeof progid, "EP01234567.%04d", episode);
  snprintf(onscreen, sizeof onscreen, "S01E%02d", episode);
  return "  <programme start=\"" + PacificText(start) + "\" stop=\"" +
         PacificText(start + minutes * 60) + "\" channel=\"" + channel + "\">\n"
         "    <title lang=\"en\">" + title + "</title>\n"
         "    <sub-title lang=\"en\">Episode " + std::to_string(episode) + "</sub-title>\n"
         "    <desc lang=\"en\">Tonight&apos;s stories &amp; the weather.</desc>\n"
         "    <credits><presenter>Ann Anchor</presenter><guest>A Guest</guest></credits>\n"
         "    <category lang=\"en\">News</category>\n"
         "    <episode-num system=\"dd_progid\">" + progid + "</episode-num>\n"
         "    <episode-num system=\"onscreen\">" + onscreen + "</episode-num>\n"
         "    <rating system=\"VCHIP\"><value>TV-PG</value></rating>\n"
         "  </programme>\n";
}

class LineupEndToEnd : public HostAndPeers<> {
 protected:
  void SetUp() override {
    // The airings lie well inside the week the module asks for, hours away
    // from its ends. Tuners know their channels by number: zap2it's
    // display names.
    first_ = (time(nullptr) / 3600 + 3) * 3600;
    std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<tv source-info-name=\"zap2it\" generator-info-name=\"grabber\">\n") +
                      "  <channel id=\"" + kGuideId + "\"><display-name>2.1 KSDX</display-name>"
                      "<display-name>2.1</display-name><display-name>KSDX</display-name></channel>\n"
                      "  <channel id=\"" + kOtherId + "\"><display-name>9.1 KOTH</display-name>"
                      "<display-name>9.1</display-name></channel>\n";
    std::vector<int64_t> starts;
    for (int day = 0; day <= kAirings; ++day) {
      const int64_t at = first_ + day * 86400LL;
      xml += Programme(kGuideId, at - 3600, 60, "Morning Desk", 100 + day);
      xml += Programme(kGuideId, at, 30, "Nightly News", day + 1);
      xml += Programme(kOtherId, at + 3600, 30, "Nightly News", day + 1);
      if (day < kAirings) starts.push_back(at);
    }
    xml += "</tv>\n";
    dbtest::WriteBytes(dir_.path() + "/guide.xml", xml);

    ASSERT_GT(http_.port(), 0);
    const std::string lineup = "http://127.0.0.1:" + std::to_string(http_.port()) + "/lineup.json";
    ASSERT_TRUE(StartPeers({"--channels", lineup, "--guide", dir_.path() + "/guide.xml", "--no-shift"}));
    // The machine's zone (London, from here on) is neither the guide's nor UTC.
    for (int64_t at : starts) expected_.push_back(LocalText(at));
    EXPECT_EQ(http_.requests(), 1);
    ASSERT_TRUE(StartHost());
  }

  LoopbackHttp http_{"[{\"GuideNumber\": \"2.1\", \"GuideName\": \"SD I21760\", "
                     "\"URL\": \"http://127.0.0.1:9/auto/v2.1\"}]"};
  int64_t first_ = 0;
  std::vector<std::string> expected_;  // local start texts of the week's airings
};

TEST_F(LineupEndToEnd, APassThroughTheLibrarysChannelNameFindsEveryAiring) {
  // From the first airing, on any channel (the guide must not offer the
  // channel the line-up lacks), every episode.
  ASSERT_TRUE(AddPass(first_, 1800, L"SD I21760", L"ch-2-1", L"Nightly News", L"News"));

  dbtest::RawDb db(DbPath());
  const auto rows = db.Rows("SELECT StartTime, ChannelName, Subtitle, Status FROM Schedules "
                            "WHERE Type = 'Automatic' ORDER BY StartTime");
  ASSERT_EQ(rows.size(), expected_.size()) << ReadFile(PeersLog());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], expected_[i]);
    EXPECT_EQ(rows[i][1], "SD I21760");
    EXPECT_EQ(rows[i][2], "Episode " + std::to_string(i + 1));
    EXPECT_EQ(rows[i][3], "DVRSTATE_SCHEDULED");
  }
  const std::string log = ReadFile(PeersLog());
  EXPECT_NE(log.find("1 of 2 guide channels matched"), std::string::npos) << log;
  EXPECT_NE(log.find(std::string("(left out): ") + kOtherId), std::string::npos) << log;
}

}  // namespace
