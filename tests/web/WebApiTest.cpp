// tev-web's JSON API against the real module, tev-peers and nats-server on
// loopback, with titles full of what must stay text.
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/web/WebStack.h"
#include "web/HttpJson.h"

namespace {

using nlohmann::json;
using webtest::WebStack;

// A minute boundary hours ahead, so that nothing starts during the test.
long long Later(int hours) { return (webtest::Now() / 60 + 1) * 60 + hours * 3600LL; }

class WebApi : public ::testing::Test {
 protected:
  void SetUp() override {
    start_ = Later(2);
    guide_ = {{"testcard.tev", webtest::kQuoted, start_, 30},
              {"testcard.tev", webtest::kMarkup, start_ + 1800, 30},
              {"testcard.tev", webtest::kEmoji, start_ + 3600, 30},
              {"testcard.tev", webtest::LongTitle(), start_ + 5400, 30},
              {"bars.tev", "Quiz Night", start_, 60},
              {"mandel.tev", "Fractal Hour", start_, 60}};
    std::string error;
    ASSERT_TRUE(stack_.Start(guide_, &error)) << error << " (files in " << stack_.Dir() << ")";
  }

  bool FindProgramme(const std::string& title, json* channel, json* programme) {
    json guide = stack_.Get("/api/guide?from=" + std::to_string(start_ - 3600) + "&to=" + std::to_string(start_ + 4 * 3600));
    if (!guide.is_object()) return false;
    for (const json& c : guide["channels"]) {
      for (const json& p : c["programmes"]) {
        if (p["title"] == title) {
          *channel = c;
          *programme = p;
          return true;
        }
      }
    }
    return false;
  }

  long long start_ = 0;
  std::vector<webtest::GuideEntry> guide_;
  WebStack stack_;
};

TEST_F(WebApi, GuideCarriesHostileTitlesIntactAndSchedulesFromIt) {
  for (const webtest::GuideEntry& entry : guide_) {
    json channel, programme;
    const std::string& title = entry.title;
    ASSERT_TRUE(FindProgramme(title, &channel, &programme)) << title.substr(0, 40);
    EXPECT_EQ(programme["start"], entry.start);
    EXPECT_EQ(programme["duration"], entry.minutes * 60);
    if (entry.channel != "testcard.tev") continue;
    // Record each hostile programme as the page does: from its guide entry.
    int status = 0;
    const std::string id = stack_.Schedule(channel["name"], channel["id"], title, programme["start"],
                                    programme["duration"], &status);
    ASSERT_EQ(status, 201) << title.substr(0, 40);
    json row = stack_.Find("/api/upcoming", id);
    ASSERT_TRUE(row.is_object()) << id;
    EXPECT_EQ(row["title"], title);
    EXPECT_EQ(row["state"], "schedule");
    // Same minute: the module files a start one second late (its own rounding).
    EXPECT_EQ(row["start"].get<long long>() / 60, programme["start"].get<long long>() / 60);
    EXPECT_EQ(row["channel"], "Test Card");
  }
  json found = stack_.Get("/api/guide/search?title=" + web::PercentEncoded(webtest::kEmoji));
  ASSERT_TRUE(found.is_object());
  ASSERT_EQ(found["channels"].size(), 1u);
  EXPECT_EQ(found["channels"][0]["name"], "Test Card");
  EXPECT_EQ(found["channels"][0]["programmes"][0]["title"], webtest::kEmoji);
  // The raw body carries the markup as a JSON string, never as HTML.
  httplib::Result raw = stack_.Client()->Get("/api/upcoming");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->get_header_value("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(raw->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_NE(raw->body.find("\"title\":" + json(webtest::kMarkup).dump()), std::string::npos);
}

TEST_F(WebApi, EditsSkipsAndCancelsAndClearsConflicts) {
  // Two TV tuners: A and B fill them, a third overlapping one is refused.
  int status = 0;
  const std::string a = stack_.Schedule("Colour Bars", "ch-bars", "A", start_, 3600, &status);
  ASSERT_EQ(status, 201);
  const std::string b = stack_.Schedule("Mandelbrot", "ch-mandel", "B", start_, 3600, &status);
  ASSERT_EQ(status, 201);
  json refused;
  stack_.Schedule("Test Card", "ch-testcard", "Refused", start_, 1800, &status, &refused);
  EXPECT_EQ(status, 409) << "a third overlapping schedule is refused";
  EXPECT_NE(refused.value("error", std::string()).find("conflicts"), std::string::npos) << refused.dump();

  stack_.Send("POST", "/api/media/" + b + "/skip", json(), &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(stack_.Find("/api/upcoming", b)["state"], "skip");
  stack_.Send("POST", "/api/media/" + b + "/unskip", json(), &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(stack_.Find("/api/upcoming", b)["state"], "schedule");

  // A series placed first takes the tuners: its episode bumps A and B.
  json pass = stack_.Send("POST", "/api/passes",
                          {{"channel", "Test Card"}, {"channelId", "ch-testcard"}, {"title", webtest::kQuoted},
                           {"start", start_}, {"duration", 1800}, {"priority", 1}}, &status);
  ASSERT_EQ(status, 201) << pass.dump();
  std::string episode;
  ASSERT_TRUE(WebStack::WaitUntil([&] {
    const json upcoming = stack_.Get("/api/upcoming");
    for (const json& row : upcoming["items"]) {
      if (row["passId"] == pass["id"]) episode = row["id"];
    }
    return !episode.empty() && stack_.Find("/api/upcoming", a)["state"] == "skip" &&
           !stack_.Find("/api/upcoming", a)["conflicts"].empty();
  }, 20)) << stack_.Get("/api/upcoming").dump();

  // Why A is not recorded, as the library learns it, reaches the upcoming list,
  // velctl list and velctl conflicts, on A's rows only.
  const std::string reason = "not recorded: " + webtest::kQuoted + " (priority 1) and \"B\" use both tuners " +
                             webtest::kMarkup + " " + webtest::kEmoji;
  std::ofstream(stack_.Dir() + "/reason.json")
      << json::array({"", json::array({a}), json::array({json::array({"conflictReason", reason})}), true}).dump();
  const std::string set = stack_.Velctl("TevMediaV2 SetMediumAttributes - < " + stack_.Dir() + "/reason.json");
  ASSERT_TRUE(WebStack::WaitUntil([&] { return stack_.Find("/api/upcoming", a).value("conflictReason", "") == reason; }, 10))
      << set << stack_.Find("/api/upcoming", a).dump();
  const std::string listed = stack_.Velctl("list");
  const std::string aRow = webtest::LineStarting(listed, a + " ");
  EXPECT_NE(aRow.find("skip"), std::string::npos) << listed;
  EXPECT_EQ(aRow.substr(aRow.size() - std::min(aRow.size(), reason.size() + 3)), "A  " + reason) << listed;
  EXPECT_EQ(webtest::LineStarting(listed, b + " ").find("not recorded"), std::string::npos) << listed;
  const std::string conflicts = stack_.Velctl("conflicts");
  EXPECT_NE(conflicts.find(a + " \"A\" conflicts with "), std::string::npos) << conflicts;
  EXPECT_EQ(webtest::LineStarting(conflicts, a + " \"A\": "), a + " \"A\": " + reason) << conflicts;
  EXPECT_EQ(webtest::LineStarting(conflicts, b + " \"B\": "), "") << conflicts;
  const std::string one = stack_.Velctl("conflicts " + a);
  EXPECT_NE(one.find(a + " conflicts with "), std::string::npos) << one;
  EXPECT_EQ(webtest::LineStarting(one, a + " \"A\": "), a + " \"A\": " + reason) << one;
  EXPECT_EQ(one.find("no conflicts"), std::string::npos) << one;

  // With A cancelled nothing clashes (a skipped episode giving a tuner back is
  // conflicts.test.js's).
  stack_.Send("POST", "/api/media/" + a + "/cancel", json(), &status);
  ASSERT_EQ(status, 200);
  ASSERT_TRUE(WebStack::WaitUntil([&] {
    const json upcoming = stack_.Get("/api/upcoming");
    return std::all_of(upcoming["items"].begin(), upcoming["items"].end(),
                       [](const json& row) { return row["conflicts"].empty(); });
  }, 10)) << stack_.Get("/api/upcoming").dump();

  stack_.Send("PATCH", "/api/media/" + b, {{"keepUntil", "AT_LEAST_3_DAYS"}, {"title", webtest::kMarkup}}, &status);
  ASSERT_EQ(status, 200);
  json renamed = stack_.Find("/api/upcoming", b);
  EXPECT_EQ(renamed["keepUntil"], "AT_LEAST_3_DAYS");
  EXPECT_EQ(renamed["title"], webtest::kMarkup);
  // A bad keep-until changes nothing.
  json bad = stack_.Send("PATCH", "/api/media/" + b, {{"keepUntil", "FOREVER"}}, &status);
  EXPECT_EQ(status, 400);
  EXPECT_NE(bad.value("error", std::string()).find("keep-until"), std::string::npos);
  EXPECT_EQ(stack_.Find("/api/upcoming", b)["keepUntil"], "AT_LEAST_3_DAYS");

  stack_.Send("POST", "/api/media/" + b + "/cancel", json(), &status);
  ASSERT_EQ(status, 200);
  EXPECT_TRUE(stack_.Find("/api/upcoming", b).is_null());
}

// Cross-site refusal is the request guard's (WebPartsTest.cpp), applied to
// every request as the password is (WebLiveTest.cpp).
TEST_F(WebApi, RefusesBadRequests) {
  auto client = stack_.Client();
  int status = 0;
  stack_.Schedule("Test Card", "ch-testcard", "Kept", start_, 600, &status);
  ASSERT_EQ(status, 201);

  // Bad bodies: each answered 400 with a reason, nothing stored.
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  for (const std::string& text : {std::string("not json"), std::string("[1,2]"), deep,
                                  json{{"channel", "Test Card"}, {"title", "No start"}}.dump(),
                                  json{{"channel", "Test Card"}, {"channelId", "ch-testcard"}, {"title", "Neg"},
                                       {"start", start_}, {"duration", -5}}.dump()}) {
    httplib::Result bad = client->Post("/api/schedules", {{"Origin", stack_.Origin()}}, text, "application/json");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400) << text.substr(0, 60);
    EXPECT_TRUE(json::parse(bad->body, nullptr, false).contains("error"));
  }
  stack_.Send("POST", "/api/media/M99999/skip", json(), &status);
  EXPECT_EQ(status, 404);
  json upcoming = stack_.Get("/api/upcoming");
  ASSERT_EQ(upcoming["items"].size(), 1u) << upcoming.dump();
}

// Listing and reordering series is the browser test's (pages.test.js);
// here the changes the page does not make.
TEST_F(WebApi, ASeriesTakesAKeepUntilRefusesABadPlaceAndGoes) {
  int status = 0;
  json pass = stack_.Send("POST", "/api/passes",
                          {{"channel", "Colour Bars"}, {"channelId", "ch-bars"}, {"title", "Quiz Night"},
                           {"start", start_}, {"duration", 3600}, {"mode", "ALL_EPISODES"}}, &status);
  ASSERT_EQ(status, 201) << pass.dump();
  const std::string passId = pass["id"];
  stack_.Send("PATCH", "/api/passes/" + passId, {{"keepUntil", "AT_LEAST_7_DAYS"}}, &status);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(stack_.Find("/api/passes", passId)["keepUntil"], "AT_LEAST_7_DAYS");
  stack_.Send("PATCH", "/api/passes/" + passId, {{"priority", 0}}, &status);
  EXPECT_EQ(status, 400);

  stack_.Send("DELETE", "/api/passes/" + passId, json(), &status);
  ASSERT_EQ(status, 200);
  EXPECT_TRUE(stack_.Get("/api/passes")["items"].empty());
}

}  // namespace
