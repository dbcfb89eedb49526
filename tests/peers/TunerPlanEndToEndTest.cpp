// An evening with more wanted than two tuners can take, end to end through the
// host and the real tev-peers: a network tuner's line-up served over HTTP and a
// guide as North-American grabbers write it, with a channel the line-up lacks.
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/TimeUtils.h"
#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/LocalTime.h"
#include "tests/common/XmltvText.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/LoopbackHttp.h"
#include "tests/peers/ProgramProcess.h"

namespace {

using tev::peers::Value;
using tev::test::PacificText;

struct Show {
  const char* guideId;    // the grabber's
  const char* number;     // the tuner's, and the guide's display name
  const char* channelId;  // the medium id the line-up makes of the number
  const wchar_t* channelName;
  const char* title;
  int firstMinute;  // after the evening's start
  int minutes;      // of each episode
  int episodes;     // back to back
};

const Show kSitcom{"I10401.labs.zap2it.com", "4.1", "ch-4-1", L"KSIT Sitcoms", "Family Rooms", 0, 30, 6};
const Show kDrama{"I20702.labs.zap2it.com", "7.2", "ch-7-2", L"KDRM Drama", "Harbour Police", 0, 60, 2};
const Show kComedy{"I31103.labs.zap2it.com", "11.3", "ch-11-3", L"KCOM Laughs", "Late Laughs", 90, 30, 3};
// The sitcom again on a channel the tuner does not have.
const Show kElsewhere{"I99999.labs.zap2it.com", "9.1", "", L"", "Family Rooms", 0, 30, 6};

std::string Channel(const Show& show) {
  return std::string("  <channel id=\"") + show.guideId + "\"><display-name>" + show.number +
         "</display-name></channel>\n";
}

std::string LineupEntry(const Show& show) {
  return std::string("{\"GuideNumber\": \"") + show.number + "\", \"GuideName\": \"" +
         tev::ToStdUtf8(show.channelName) + "\", \"URL\": \"http://127.0.0.1:9/auto/v" + show.number + "\"}";
}

std::string Programmes(const Show& show, int64_t evening) {
  std::string xml;
  for (int i = 0; i < show.episodes; ++i) {
    const int64_t start = evening + (show.firstMinute + i * show.minutes) * 60LL;
    xml += "  <programme start=\"" + PacificText(start) + "\" stop=\"" +
           PacificText(start + show.minutes * 60LL) + "\" channel=\"" + show.guideId + "\">\n"
           "    <title lang=\"en\">" + show.title + "</title>\n"
           "    <sub-title lang=\"en\">Part " + std::to_string(i + 1) + "</sub-title>\n"
           "    <desc lang=\"en\">Tonight&apos;s part &amp; more.</desc>\n"
           "    <credits><presenter>Ann Anchor</presenter><guest>A Guest</guest></credits>\n"
           "    <episode-num system=\"xmltv_ns\">2." + std::to_string(i) + ".</episode-num>\n"
           "    <rating system=\"VCHIP\"><value>TV-PG</value></rating>\n"
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
                      "<tv source-info-name=\"zap2it\" generator-info-name=\"grabber\">\n";
    for (const Show* show : {&kSitcom, &kDrama, &kComedy, &kElsewhere}) xml += Channel(*show);
    for (const Show* show : {&kSitcom, &kDrama, &kComedy, &kElsewhere}) xml += Programmes(*show, evening_);
    dbtest::WriteBytes(dir_.path() + "/guide.xml", xml + "</tv>\n");
    ASSERT_GT(tuner_.port(), 0);
    ASSERT_TRUE(StartPeers({"--channels", "http://127.0.0.1:" + std::to_string(tuner_.port()) + "/lineup.json",
                            "--guide", dir_.path() + "/guide.xml", "--no-shift"}));
    EXPECT_EQ(tuner_.requests(), 1);
    ASSERT_TRUE(StartHost());
  }

  // "AddTevPass" on any channel for all episodes; `priority` 0 places it last.
  void AddShowPass(const Show& show, int priority) {
    const Value in = Value::Array(
        {Value::Str(L"viewer"), Value::Bool(false), Value::Long(1), Value::Str(L""), Value::Long(1),
         Value::Long(1), priority > 0 ? Value::Long(priority) : Value(), Value::Str(L""),
         Value::Date(tev::test::WallClock(evening_ + show.firstMinute * 60LL)),
         Value::Long(show.minutes * 60000), Value::Str(show.channelName),
         Value::Str(tev::FromStdUtf8(show.channelId)), Value::Str(tev::FromStdUtf8(show.title)),
         Value::Str(L"Comedy")});
    AutoVariant out, retcodes;
    ASSERT_EQ(client_.Request(L"ZoVIZ", L"AddTevPass", in.get(), &out, 0, &retcodes), 0);
    ASSERT_EQ(VUtil::GetSingleRetcode(retcodes), 0) << show.title << "\n" << ReadFile(HostLog());
  }

  std::vector<std::vector<std::string>> Episodes() {
    return dbtest::RawDb(DbPath()).Rows(
        "SELECT Name, Subtitle, Status, ifnull((SELECT Reason FROM ConflictReasons WHERE "
        "ScheduleId = Schedules.ID), ''), TevMediumId, StartTime, ChannelName FROM Schedules "
        "WHERE Type = 'Automatic' ORDER BY StartTime, Name");
  }

  LoopbackHttp tuner_{"[" + LineupEntry(kSitcom) + ", " + LineupEntry(kDrama) + ", " + LineupEntry(kComedy) + "]"};
  int64_t evening_ = 0;
};

TEST_F(TunerPlanEndToEnd, TheEveningRecordsTenOfElevenAndACancelBringsTheLastBack) {
  AddShowPass(kDrama, 0);
  AddShowPass(kSitcom, 0);
  AddShowPass(kComedy, 1);  // placed first

  // Nothing of the channel the line-up lacks; the guide's times in the
  // machine's zone (London: neither the guide's nor UTC).
  auto rows = Episodes();
  ASSERT_EQ(rows.size(), 11u) << ReadFile(PeersLog());
  EXPECT_EQ(rows[0][5], tev::ToStdUtf8(FormatTime3(evening_)));
  EXPECT_EQ(rows[0][6], "KSIT Sitcoms");  // the tuner's name, not the guide's
  const std::string log = ReadFile(PeersLog());
  EXPECT_NE(log.find("3 of 4 guide channels matched"), std::string::npos) << log;
  EXPECT_NE(log.find(std::string("(left out): ") + kElsewhere.guideId), std::string::npos) << log;
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
