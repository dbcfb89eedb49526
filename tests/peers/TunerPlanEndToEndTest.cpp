// An evening with more wanted than two tuners can take, end to end: the
// module in the host program and the real tev-peers (two TV tuners) on a
// loopback bus, the guide shaped as a grabber writes it (ids unlike the
// channel names, times at -0800, back-to-back episodes). Three passes are
// made through "AddTevPass"; the best plan records all but one episode,
// which says why, and a cancel lets it record after all.
#include <signal.h>
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "tests/common/XmltvText.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/ProgramProcess.h"

namespace {

using tev::peers::ScriptedPeer;
using tev::peers::Value;
using tev::test::PacificText;

struct Show {
  const char* guideId;    // the grabber's
  const char* channelId;  // the line-up's medium id
  const wchar_t* channelName;
  const char* title;
  int firstMinute;  // after the evening's start
  int minutes;      // of each episode
  int episodes;     // back to back
};

const Show kSitcom{"I10401.labs.zap2it.com", "ch-4-1", L"KSIT Sitcoms", "Family Rooms", 0, 30, 6};
const Show kDrama{"I20702.labs.zap2it.com", "ch-7-2", L"KDRM Drama", "Harbour Police", 0, 60, 2};
const Show kComedy{"I31103.labs.zap2it.com", "ch-11-3", L"KCOM Laughs", "Late Laughs", 90, 30, 3};

std::string Channel(const Show& show) {
  return std::string("  <channel id=\"") + show.guideId + "\"><display-name>" +
         show.channelId + "</display-name></channel>\n";
}

// The person's line-up entry of the channel, tied to the guide by its id.
std::string LineupEntry(const Show& show) {
  return std::string("{\"id\": \"") + show.channelId + "\", \"name\": \"" +
         tev::ToStdUtf8(show.channelName) + "\", \"path\": \"http://127.0.0.1:9/" +
         show.channelId + ".ts\", \"xmltvId\": \"" + show.guideId + "\"}";
}

std::string Programmes(const Show& show, int64_t evening) {
  std::string xml;
  for (int i = 0; i < show.episodes; ++i) {
    const int64_t start = evening + (show.firstMinute + i * show.minutes) * 60LL;
    xml += "  <programme start=\"" + PacificText(start) + "\" stop=\"" +
           PacificText(start + show.minutes * 60LL) + "\" channel=\"" + show.guideId + "\">\n"
           "    <title lang=\"en\">" + show.title + "</title>\n"
           "    <sub-title lang=\"en\">Part " + std::to_string(i + 1) + "</sub-title>\n"
           "    <episode-num system=\"xmltv_ns\">2." + std::to_string(i) + ".</episode-num>\n"
           "  </programme>\n";
  }
  return xml;
}

class TunerPlanEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start()) << "nats-server did not start";
    const std::vector<std::string> env =
        HostEnvironment(dir_.path(), tev::ToStdUtf8(server_.HostPort()));
    zone_.reset(new dbtest::ScopedEnv("TZ", "Europe/London"));
    tzset();

    // Hours away, so that nothing starts recording while the test runs.
    evening_ = (time(nullptr) / 3600 + 3) * 3600;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<tv source-info-name=\"zap2it\" generator-info-name=\"grabber\">\n" +
                      Channel(kSitcom) + Channel(kDrama) + Channel(kComedy) +
                      Programmes(kSitcom, evening_) + Programmes(kDrama, evening_) +
                      Programmes(kComedy, evening_) + "</tv>\n";
    dbtest::WriteBytes(dir_.path() + "/guide.xml", xml);
    dbtest::WriteBytes(dir_.path() + "/channels.json", "[" + LineupEntry(kSitcom) + ", " +
                                                           LineupEntry(kDrama) + ", " +
                                                           LineupEntry(kComedy) + "]");

    ASSERT_TRUE(peers_.Start({"--host", tev::ToStdUtf8(server_.HostPort()), "--data",
                              dir_.path() + "/peers", "--channels", dir_.path() + "/channels.json",
                              "--guide", dir_.path() + "/guide.xml", "--no-shift"},
                             PeersLog(), env));
    client_.SetRequestTimeout(20000);
    ASSERT_EQ(client_.Join(server_.HostPort()), 0);
    ASSERT_TRUE(AllJoined(client_, server_.Port(), peers_, PeersLog(), 20000));

    ASSERT_TRUE(host_.Start({TEV_BINARY_DIR "/libTevPVR.so"}, HostLog(), env));
    ASSERT_TRUE(ModuleAnswers(client_, host_, HostLog()));
  }
  void TearDown() override {
    client_.Leave();
    host_.Stop(SIGINT, 15000);
    peers_.Stop(SIGTERM, 15000);
  }
  std::string PeersLog() const { return dir_.path() + "/tev-peers.log"; }
  std::string HostLog() const { return dir_.path() + "/host.log"; }

  // A pass on every channel for all episodes; `priority` 0 places it last.
  void AddPass(const Show& show, int priority) {
    const int64_t first = evening_ + show.firstMinute * 60LL;
    const time_t at = static_cast<time_t>(first);
    struct tm local {};
    localtime_r(&at, &local);
    Value in = Value::Array(
        {Value::Str(L"viewer"), Value::Bool(false), Value::Long(1), Value::Str(L""),
         Value::Long(1), Value::Long(1), priority > 0 ? Value::Long(priority) : Value(),
         Value::Str(L""), Value::Date(first + local.tm_gmtoff), Value::Long(show.minutes * 60000),
         Value::Str(show.channelName), Value::Str(tev::FromStdUtf8(show.channelId)),
         Value::Str(tev::FromStdUtf8(show.title)), Value::Str(L"Comedy")});
    AutoVariant out, retcodes;
    ASSERT_EQ(client_.Request(L"ZoVIZ", L"AddTevPass", in.get(), &out, 0, &retcodes), 0);
    ASSERT_EQ(VUtil::GetSingleRetcode(retcodes), 0) << show.title << "\n" << ReadFile(HostLog());
  }

  // Name, sub-title, status and stored reason of each episode, by start and name.
  std::vector<std::vector<std::string>> Episodes() {
    dbtest::RawDb db(dir_.path() + "/appdata/TevNetworks/TevPVR/TevPVR.db");
    return db.Rows(
        "SELECT Name, Subtitle, Status, ifnull((SELECT Reason FROM ConflictReasons WHERE "
        "ScheduleId = Schedules.ID), ''), TevMediumId FROM Schedules WHERE Type = 'Automatic' "
        "ORDER BY StartTime, Name");
  }

  dbtest::TempDir dir_;
  std::unique_ptr<dbtest::ScopedEnv> zone_;
  tev::test::NatsServer server_;
  ProgramProcess peers_{TEV_PEERS_BINARY};
  ProgramProcess host_{TEV_BINARY_DIR "/host/tevpvr-host"};
  ScriptedPeer client_{L"PlanClient", {}};
  int64_t evening_ = 0;
};

TEST_F(TunerPlanEndToEnd, TheEveningRecordsTenOfElevenAndACancelBringsTheLastBack) {
  AddPass(kDrama, 0);
  AddPass(kSitcom, 0);
  AddPass(kComedy, 1);  // placed first

  auto rows = Episodes();
  ASSERT_EQ(rows.size(), 11u) << ReadFile(PeersLog());
  int scheduled = 0;
  std::vector<std::string> left;
  std::string comedyFirst;
  for (const auto& row : rows) {
    if (row[2] == "DVRSTATE_SCHEDULED") {
      ++scheduled;
      EXPECT_EQ(row[3], "") << row[0] << " " << row[1];
    } else {
      left.push_back(row[0] + " " + row[1] + " " + row[2] + ": " + row[3]);
    }
    if (row[0] == "Late Laughs" && row[1] == "Part 1") comedyFirst = row[4];
  }
  EXPECT_EQ(scheduled, 10);
  // While the comedy's first half hour airs, the drama (a higher pass than
  // the sitcom) keeps the other tuner.
  EXPECT_EQ(left, std::vector<std::string>{
                      "Family Rooms Part 4 DVRSTATE_CONFLICT: not recorded: Late Laughs "
                      "(priority 1) and Harbour Police (priority 2) use both tuners"});

  // The comedy's first episode is cancelled: its tuner goes to the sitcom.
  ASSERT_FALSE(comedyFirst.empty());
  AutoVariant out, retcodes;
  ASSERT_EQ(client_.Request(L"ZoVIZ", L"UpdateMedium",
                            Value::Array({Value::Long(1), Value::Str(tev::FromStdUtf8(comedyFirst))})
                                .get(),
                            &out, 0, &retcodes),
            0);
  rows = Episodes();
  int stillScheduled = 0;
  for (const auto& row : rows) {
    if (row[0] == "Family Rooms" && row[1] == "Part 4") {
      EXPECT_EQ(row[2], "DVRSTATE_SCHEDULED");
      EXPECT_EQ(row[3], "");
    }
    if (row[2] == "DVRSTATE_SCHEDULED") ++stillScheduled;
  }
  EXPECT_EQ(stillScheduled, 10);  // the sitcom's in, the cancelled one out
}

}  // namespace
