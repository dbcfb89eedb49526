// The guide's line-up through tev-web from a playlist of the test's own: logos
// fetched only from the playlist's URL, and a title search over seven days.
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/web/WebStack.h"
#include "web/HttpJson.h"

namespace {

using nlohmann::json;
using webtest::WebStack;

// The playlist's logos; counts what is asked of it.
class LogoServer {
 public:
  LogoServer() {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> hold(mu_);
      ++hits_[req.path];
      return httplib::Server::HandlerResponse::Unhandled;
    });
    const std::pair<const char*, const char*> pictures[] = {{"/logos/one.png", "first picture"},
                                                            {"/logos/two.png", "second picture"},
                                                            {"/logos/stolen.png", "not for tev-web"}};
    for (const auto& picture : pictures) {
      server_.Get(picture.first, [picture](const httplib::Request&, httplib::Response& res) {
        res.set_content(picture.second, "image/png");
      });
    }
    server_.Get("/logos/moved.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/logos/two.png");
    });
    server_.Get("/logos/away.png", [this](const httplib::Request&, httplib::Response& res) {
      // Another host name for this very server: tev-web must not go there.
      res.set_redirect("http://localhost:" + std::to_string(port_) + "/logos/stolen.png");
    });
    server_.Get("/logos/page.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<p>no picture</p>", "text/html");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LogoServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int Hits(const std::string& path) {
    std::lock_guard<std::mutex> hold(mu_);
    return hits_[path];
  }
  int AllHits() {
    std::lock_guard<std::mutex> hold(mu_);
    int all = 0;
    for (const auto& hit : hits_) all += hit.second;
    return all;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::map<std::string, int> hits_;
};

// The start of the local day `offset` days after that of `at`.
long long DayStart(int offset, std::time_t at = std::time(nullptr)) {
  std::tm local{};
  localtime_r(&at, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_mday += offset;
  local.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&local));
}

class WebLineup : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string playlist = stack_.Dir() + "/channels.m3u";
    std::ofstream(playlist)
        << "#EXTM3U\n"
        << "#EXTINF:-1 tvg-id=\"testcard.tev\" tvg-chno=\"11\" tvg-logo=\"" << logos_.Url("/logos/one.png")
        << "\",Test Card\nhttp://127.0.0.1:9/card\n"
        << "#EXTINF:-1 tvg-id=\"bars.tev\" tvg-chno=\"2\" tvg-logo=\"" << logos_.Url("/logos/moved.png")
        << "\",Colour Bars\nhttp://127.0.0.1:9/bars\n"
        << "#EXTINF:-1 tvg-id=\"mandel.tev\" tvg-chno=\"7.1\" tvg-logo=\"" << logos_.Url("/logos/away.png")
        << "\",Mandelbrot\nhttp://127.0.0.1:9/mandel\n"
        << "#EXTINF:-1 tvg-chno=\"3\" tvg-logo=\"" << logos_.Url("/logos/page.html")
        << "\",Quiet Channel With A Name Longer Than Its Cell\nhttp://127.0.0.1:9/quiet\n"
        << "#EXTINF:-1 tvg-chno=\"4\" tvg-logo=\"file:///etc/passwd\",Odd Logo\nhttp://127.0.0.1:9/odd\n";
    stack_.UseChannels(playlist);
    // Ten past midnight on each of the page's days and the next; late on the last.
    today_ = DayStart(0);
    for (int day = 0; day <= 7; ++day) guide_.push_back({"bars.tev", "Weekly Quiz", DayStart(day) + 600, 30});
    guide_.push_back({"bars.tev", "Weekly Quiz", DayStart(6) + 23 * 3600 + 1800, 20});
    std::string error;
    ASSERT_TRUE(stack_.Start(guide_, &error)) << error << " (files in " << stack_.Dir() << ")";
  }

  WebStack stack_;
  LogoServer logos_;
  std::vector<webtest::GuideEntry> guide_;
  long long today_ = 0;  // when the guide was made
};

TEST_F(WebLineup, ChannelsComeInNumberOrderWithLogosFetchedOnlyWhereThePlaylistSays) {
  json lineup = stack_.Get("/api/channels");
  ASSERT_TRUE(lineup.is_object()) << "no /api/channels";
  std::vector<std::string> names, numbers;
  std::map<std::string, json> byName;
  for (const json& c : lineup["channels"]) {
    names.push_back(c["name"]);
    numbers.push_back(c["number"]);
    byName[c["name"]] = c;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Colour Bars", "Quiet Channel With A Name Longer Than Its Cell",
                                             "Odd Logo", "Mandelbrot", "Test Card"}));
  EXPECT_EQ(numbers, (std::vector<std::string>{"2", "3", "4", "7.1", "11"}));

  auto client = stack_.Client();
  std::string type;
  // "<status> <body>" of a channel's logo.
  auto logo = [&](const std::string& name) {
    auto got = client->Get("/api/channels/" + web::PercentEncoded(byName[name]["id"]) + "/logo");
    type = got ? got->get_header_value("Content-Type") : "";
    return got ? std::to_string(got->status) + " " + got->body : std::string("no answer");
  };
  // Only http(s) logos get a link; the file URL is never read, nor asked for.
  EXPECT_EQ(byName["Odd Logo"]["logo"], "");
  const std::string odd = logo("Odd Logo");
  EXPECT_EQ(odd.rfind("404 ", 0), 0u) << odd;
  EXPECT_EQ(odd.find("root:"), std::string::npos);

  EXPECT_EQ(logo("Test Card"), "200 first picture");
  EXPECT_EQ(type, "image/png");
  EXPECT_EQ(byName["Test Card"]["logo"], "/api/channels/" + web::PercentEncoded(byName["Test Card"]["id"]) + "/logo");
  // Kept: asked again, the logo's server is not.
  EXPECT_EQ(logo("Test Card"), "200 first picture");
  EXPECT_EQ(logos_.Hits("/logos/one.png"), 1);

  // A redirect on the same host is followed; to another host it is not, and a page is no logo.
  EXPECT_EQ(logo("Colour Bars"), "200 second picture");
  const std::string away = logo("Mandelbrot");
  EXPECT_EQ(away.rfind("404 ", 0), 0u) << away;
  EXPECT_NE(away.find("not followed"), std::string::npos) << away;
  EXPECT_EQ(logos_.Hits("/logos/stolen.png"), 0);
  EXPECT_EQ(logo("Quiet Channel With A Name Longer Than Its Cell").rfind("404 ", 0), 0u);

  // No way to make tev-web fetch anything else.
  EXPECT_EQ(webtest::StatusOf(client->Get("/api/channels/no-such-channel/logo?url=" +
                                          web::PercentEncoded(logos_.Url("/logos/stolen.png")))),
            404);
  EXPECT_EQ(logos_.Hits("/logos/stolen.png"), 0);
  EXPECT_EQ(logos_.AllHits(), 5);  // one, moved, two, away, page
}

TEST_F(WebLineup, SearchFindsTitlesOnAllSevenDaysOfThePage) {
  // Past a midnight since the guide was made, its days are asked for explicitly.
  auto day = [this](int offset) { return DayStart(offset, static_cast<std::time_t>(today_)); };
  json found;
  for (;;) {
    const bool sameDay = DayStart(0) == today_;
    const std::string days = sameDay ? "" : "&from=" + std::to_string(day(0)) + "&to=" + std::to_string(day(7));
    found = stack_.Get("/api/guide/search?title=weekly%20quiz" + days);
    if (!sameDay || DayStart(0) == today_) break;
  }
  ASSERT_TRUE(found.is_object());
  std::vector<long long> starts;
  for (const json& c : found["channels"]) {
    EXPECT_EQ(c["name"], "Colour Bars");
    for (const json& p : c["programmes"]) starts.push_back(p["start"]);
  }
  std::vector<long long> expected;
  for (int d = 0; d <= 6; ++d) expected.push_back(day(d) + 600);
  expected.push_back(day(6) + 23 * 3600 + 1800);
  std::sort(starts.begin(), starts.end());
  EXPECT_EQ(starts, expected);

  // The page's own days, and a bad window refused.
  found = stack_.Get("/api/guide/search?title=Weekly%20Quiz&from=" + std::to_string(day(1)) + "&to=" +
                     std::to_string(day(2)));
  ASSERT_TRUE(found.is_object());
  ASSERT_EQ(found["channels"].size(), 1u);
  ASSERT_EQ(found["channels"][0]["programmes"].size(), 1u);
  EXPECT_EQ(found["channels"][0]["programmes"][0]["start"], day(1) + 600);
  EXPECT_EQ(webtest::StatusOf(stack_.Client()->Get("/api/guide/search?title=Weekly%20Quiz&from=10&to=1")), 400);
}

}  // namespace
