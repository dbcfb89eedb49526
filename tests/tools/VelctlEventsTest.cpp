// The lines velctl watch prints for changes between two listings.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/velctl_events.h"

namespace {

using velctl::Events;
using velctl::Medium;

Medium Schedule(const std::string& id, const std::string& state) {
  Medium medium;
  medium.id = id;
  medium.state = state;
  medium.mediaType = "schedule.video.file.recorded.tv";
  medium.title = "My Show 2026-12-07 21:00";
  medium.start = "2026-12-07 21:00:00";
  medium.channel = "Test Card";
  medium.durationMs = 1800000;
  medium.path = "/srv/tev/Recorded TV/My Show.asf";
  return medium;
}

std::map<std::string, Medium> ById(const std::vector<Medium>& media) {
  std::map<std::string, Medium> known;
  for (const Medium& medium : media) known[medium.id] = medium;
  return known;
}

TEST(VelctlEvents, OneLinePerChangeOfState) {
  std::vector<Medium> before = {Schedule("M1", "schedule"), Schedule("M2", "recording"),
                                Schedule("M3", "schedule"), Schedule("M4", "schedule")};
  std::vector<Medium> after = {Schedule("M1", "recording"), Schedule("M2", "complete"),
                               Schedule("M3", "busy"), Schedule("M4", "schedule"),
                               Schedule("M5", "schedule")};
  std::vector<std::string> lines = Events(ById(before), after);
  std::vector<std::string> expected = {
      "started M1 \"My Show\" on Test Card",
      "finished M2 \"My Show\": complete, /srv/tev/Recorded TV/My Show.asf",
      "failed M3 \"My Show\": no tuner was free (busy)",
      "scheduled M5 \"My Show\" on Test Card at 2026-12-07 21:00 for 30m",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(Events(ById(after), after).empty());
}

TEST(VelctlEvents, NewRecordingsRemovalsAndPasses) {
  Medium pass;
  pass.id = "M9";
  pass.mediaType = "schedulePass.video.file.recorded.tv";
  pass.title = "Evening News";
  pass.channel = "Test Card";
  pass.scheduleMode = "DAILY_AT_SAME_TIME";
  Medium untitled = Schedule("M7", "partial");
  untitled.title = "Late Film";
  untitled.path.clear();
  std::vector<std::string> lines =
      Events(ById({Schedule("M1", "schedule"), untitled}),
             {Schedule("M2", "recording"), pass, Schedule("M3", "conflict")});
  std::vector<std::string> expected = {
      "scheduled M2 \"My Show\" on Test Card at 2026-12-07 21:00 for 30m",
      "started M2 \"My Show\" on Test Card",
      "pass added M9 \"Evening News\" on Test Card (DAILY_AT_SAME_TIME)",
      "conflict M3 \"My Show\": another schedule holds the tuner",
      "removed M1 \"My Show\"",
      "removed M7 \"Late Film\"",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(Events(ById({pass}), {}), std::vector<std::string>{"pass removed M9 \"Evening News\""});
}

}  // namespace
