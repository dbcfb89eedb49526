// An evening with more wanted than two tuners can take, end to end: the
// module in the host program and the real tev-peers (two TV tuners) on a
// loopback bus, the guide shaped as a grabber writes it (ids unlike the
// channel names, times at -0800, back-to-back episodes). Three passes are
// made through "AddTevPass"; the best plan records all but one episode,
// which says why, and a cancel lets it record after all.
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/XmltvText.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/ProgramProcess.h"

namespace {

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

class TunerPlanEndToEnd : public HostAndPeers<> {
 protected:
  void SetUp() override {
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
    ASSERT_TRUE(StartPeers({"--channels", dir_.path() + "/channels.json", "--guide",
                            dir_.path() + "/guide.xml", "--no-shift"}));
    ASSERT_TRUE(StartHost());
  }

  // A pass on every channel for all episodes; `priority` 0 places it last.
  void AddShowPass(const Show& show, int priority) {
    ASSERT_TRUE(AddPass(evening_ + show.firstMinute * 60LL, show.minutes * 60, show.channelName,
                        tev::FromStdUtf8(show.channelId), tev::FromStdUtf8(show.title), L"Comedy",
                        priority))
        << show.title;
  }

  // Name, sub-title, status and stored reason of each episode, by start and name.
  std::vector<std::vector<std::string>> Episodes() {
    return dbtest::RawDb(DbPath()).Rows(
        "SELECT Name, Subtitle, Status, ifnull((SELECT Reason FROM ConflictReasons WHERE "
        "ScheduleId = Schedules.ID), ''), TevMediumId FROM Schedules WHERE Type = 'Automatic' "
        "ORDER BY StartTime, Name");
  }

  int64_t evening_ = 0;
};

TEST_F(TunerPlanEndToEnd, TheEveningRecordsTenOfElevenAndACancelBringsTheLastBack) {
  AddShowPass(kDrama, 0);
  AddShowPass(kSitcom, 0);
  AddShowPass(kComedy, 1);  // placed first

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
