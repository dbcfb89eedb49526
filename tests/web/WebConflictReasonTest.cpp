// Why a schedule will not be recorded, as the media library holds it
// ("conflictReason"), reaches tev-web's upcoming list, velctl list and
// velctl conflicts, with the real module bumping two schedules for a series
// placed first.
#include <ctime>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/web/WebStack.h"

namespace {

using nlohmann::json;
using webtest::WebStack;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(WebConflictReason, UpcomingVelctlListAndConflictsSayWhyAScheduleIsNotRecorded) {
  const long long start = (static_cast<long long>(std::time(nullptr)) / 60 + 1) * 60 + 2 * 3600;
  WebStack stack;
  std::string error;
  ASSERT_TRUE(stack.Start({{"bars.tev", "Quiz Night", start, 30},
                           {"mandel.tev", "Fractal Hour", start, 30},
                           {"testcard.tev", "Series Show", start, 30}},
                          &error))
      << error << " (files in " << stack.Dir() << ")";
  int status = 0;
  const std::string a = stack.Schedule("Colour Bars", "ch-bars", "Quiz Night", start, 1800, &status);
  ASSERT_EQ(status, 201);
  const std::string b = stack.Schedule("Mandelbrot", "ch-mandel", "Fractal Hour", start, 1800, &status);
  ASSERT_EQ(status, 201);
  const json pass = stack.Send("POST", "/api/passes",
                               {{"channel", "Test Card"}, {"channelId", "ch-testcard"}, {"title", "Series Show"},
                                {"start", start}, {"duration", 1800}, {"priority", 1}},
                               &status);
  ASSERT_EQ(status, 201) << pass.dump();
  ASSERT_TRUE(WebStack::WaitUntil([&] { return stack.Find("/api/upcoming", a)["state"] == "skip"; }, 20))
      << stack.Get("/api/upcoming").dump();

  // The library learns why, in words full of what must stay text.
  const std::string reason = "not recorded: Series Show (priority 1) and \"Fractal Hour\" use both tuners " +
                             webtest::kMarkup + " " + webtest::kEmoji;
  const std::string request = stack.Dir() + "/reason.json";
  std::ofstream(request) << json::array({"", json::array({a}), json::array({json::array({"conflictReason", reason})}),
                                         true})
                                .dump();
  const std::string set = stack.Velctl("TevMediaV2 SetMediumAttributes - < " + request);
  ASSERT_TRUE(WebStack::WaitUntil(
      [&] { return stack.Find("/api/upcoming", a).value("conflictReason", "") == reason; }, 10))
      << set << stack.Find("/api/upcoming", a).dump();
  EXPECT_EQ(stack.Find("/api/upcoming", a)["conflictReason"], reason);
  EXPECT_EQ(stack.Find("/api/upcoming", b)["conflictReason"], "") << "none where the library has none";
  httplib::Result raw = stack.Client()->Get("/api/upcoming");
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->body.find("\"conflictReason\":" + json(reason).dump()), std::string::npos);

  // velctl list: after the row of the schedule it belongs to, only there.
  const std::string listed = stack.Velctl("list");
  const std::string quizRow = webtest::LineStarting(listed, a + " ");
  EXPECT_NE(quizRow.find("skip"), std::string::npos) << listed;
  EXPECT_TRUE(EndsWith(quizRow, "Quiz Night  " + reason)) << listed;
  EXPECT_EQ(webtest::LineStarting(listed, b + " ").find("not recorded"), std::string::npos) << listed;

  // velctl conflicts: the module's clashes as before, then the reason.
  const std::string conflicts = stack.Velctl("conflicts");
  EXPECT_NE(conflicts.find(a + " \"Quiz Night\" conflicts with "), std::string::npos) << conflicts;
  EXPECT_EQ(webtest::LineStarting(conflicts, a + " \"Quiz Night\": "), a + " \"Quiz Night\": " + reason) << conflicts;
  EXPECT_EQ(webtest::LineStarting(conflicts, b + " \"Fractal Hour\": "), "") << conflicts;
  const std::string one = stack.Velctl("conflicts " + a);
  EXPECT_NE(one.find(a + " conflicts with "), std::string::npos) << one;
  EXPECT_EQ(webtest::LineStarting(one, a + " \"Quiz Night\": "), a + " \"Quiz Night\": " + reason) << one;
  EXPECT_EQ(one.find("no conflicts"), std::string::npos) << one;
}

}  // namespace
