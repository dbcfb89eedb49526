// tev-web's parts that need no bus: the listen address, the request guard,
// the local-time conversions and the event stream's format.
#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include "web/EventHub.h"
#include "web/LocalClock.h"
#include "web/RequestGuard.h"
#include "web/ServerOptions.h"

namespace {

TEST(ServerOptions, ParsesListenAddressesAndKnowsLoopback) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int port;
    bool loopback;
  } cases[] = {
      {"127.0.0.1:8080", true, "127.0.0.1", 8080, true}, {"9000", true, "127.0.0.1", 9000, true},
      {"[::1]:81", true, "::1", 81, true},               {"localhost:80", true, "localhost", 80, true},
      {"127.8.9.10:1", true, "127.8.9.10", 1, true},     {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
      {"192.0.2.7:8080", true, "192.0.2.7", 8080, false}, {"[::]:8080", true, "::", 8080, false},
      {"host:0", false, "", 0, false},                   {"host:65536", false, "", 0, false},
      {"host:80x", false, "", 0, false},                 {":80", false, "", 0, false},
      {"[::1]80", false, "", 0, false},                  {"", false, "", 0, false},
  };
  for (const auto& c : cases) {
    web::ListenAddress address;
    std::string error;
    EXPECT_EQ(web::ParseListen(c.text, &address, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(web::IsLoopback(address.host), c.loopback) << c.text;
  }
}

httplib::Request Request(const std::string& method, const httplib::Headers& headers) {
  httplib::Request req;
  req.method = method;
  req.headers = headers;
  return req;
}

TEST(RequestGuard, AdmitsTheOwnPageAndRefusesOthers) {
  const web::RequestGuard guard("", web::RequestGuard::LoopbackHosts(8080, {"tv.home"}));
  const struct {
    const char* method;
    httplib::Headers headers;
    int refusal;  // 0 admitted
  } cases[] = {
      {"GET", {{"Host", "127.0.0.1:8080"}}, 0},
      {"GET", {{"Host", "LOCALHOST:8080"}}, 0},
      {"GET", {{"Host", "tv.home:8080"}}, 0},
      {"GET", {{"Host", "evil.example:8080"}}, 403},
      {"GET", {{"Host", "127.0.0.1:8081"}}, 403},
      {"POST", {{"Host", "127.0.0.1:8080"}, {"Origin", "http://127.0.0.1:8080"}}, 0},
      {"POST", {{"Host", "127.0.0.1:8080"}}, 0},  // a program, not a page
      {"POST", {{"Host", "127.0.0.1:8080"}, {"Sec-Fetch-Site", "same-origin"}}, 0},
      {"DELETE", {{"Host", "127.0.0.1:8080"}, {"Origin", "http://evil.example"}}, 403},
      {"PATCH", {{"Host", "127.0.0.1:8080"}, {"Origin", "null"}}, 403},
      {"PUT", {{"Host", "127.0.0.1:8080"}, {"Origin", "http://127.0.0.1:8080.evil.example"}}, 403},
      {"POST", {{"Host", "127.0.0.1:8080"}, {"Sec-Fetch-Site", "cross-site"}}, 403},
      {"GET", {{"Host", "127.0.0.1:8080"}, {"Origin", "http://evil.example"}}, 0},  // reading is not changing
  };
  for (const auto& c : cases) {
    httplib::Response res;
    const bool admitted = guard.Admit(Request(c.method, c.headers), res);
    EXPECT_EQ(admitted, c.refusal == 0) << c.method << " " << c.headers.begin()->second;
    if (!admitted) {
      EXPECT_EQ(res.status, c.refusal);
    }
  }
}

TEST(RequestGuard, PasswordIsCheckedOnEveryRequest) {
  const web::RequestGuard guard("pa:ss", {});
  const struct {
    const char* authorization;
    bool ok;
  } cases[] = {
      {"Basic dmlld2VyOnBhOnNz", true},    // viewer:pa:ss
      {"Basic OnBhOnNz", true},            // :pa:ss
      {"Basic dmlld2VyOnBhOnN6", false},   // viewer:pa:sz
      {"Basic dmlld2VyOnBhOg==", false},   // viewer:pa:
      {"Bearer pa:ss", false},
      {"Basic !!!", false},
      {"", false},
  };
  for (const auto& c : cases) {
    httplib::Response res;
    EXPECT_EQ(guard.Admit(Request("GET", {{"Host", "192.0.2.1"}, {"Authorization", c.authorization}}), res), c.ok)
        << c.authorization;
    if (!c.ok) {
      EXPECT_EQ(res.status, 401);
      EXPECT_FALSE(res.get_header_value("WWW-Authenticate").empty());
    }
  }
}

TEST(LocalClock, ReadsLocalWallTimeAcrossDaylightSaving) {
  setenv("TZ", "Europe/London", 1);
  tzset();
  int64_t utc = 0;
  ASSERT_TRUE(web::LocalTextToUtc("2026-07-01 12:00:00", &utc));
  EXPECT_EQ(utc, 1782903600);  // 11:00 UTC in summer
  ASSERT_TRUE(web::LocalTextToUtc("2026-12-24T21:00:00", &utc));
  EXPECT_EQ(utc, 1798146000);
  // OLE days of the local clock, as the guide sends them.
  ASSERT_TRUE(web::LocalDateToUtc({{"vt", "DATE"}, {"v", 46204.5}}, &utc));  // 2026-07-01 12:00 local
  EXPECT_EQ(utc, 1782903600);
  EXPECT_EQ(web::UtcToLocalDate(1782903600)["v"], "2026-07-01T12:00:00");
  for (const char* bad : {"", "2026-07-01", "2026-07-01X12:00:00", "tomorrow"}) {
    EXPECT_FALSE(web::LocalTextToUtc(bad, &utc)) << bad;
  }
  EXPECT_FALSE(web::LocalDateToUtc({{"vt", "BSTR"}, {"v", "x"}}, &utc));
  EXPECT_FALSE(web::LocalDateToUtc({{"vt", "DATE"}, {"v", 1e300}}, &utc));
  unsetenv("TZ");
  tzset();
}

TEST(EventHub, KeepsRecentEventsAndWritesThemOneLineEach) {
  web::EventHub hub;
  hub.Publish("media", {{"title", "two\nlines </script>"}});
  hub.Publish("status", {{"ok", true}});
  std::vector<web::Event> events = hub.After(0, 0);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(hub.After(1, 0).size(), 1u);
  EXPECT_TRUE(hub.After(2, 10).empty());
  EXPECT_EQ(web::EventHub::Format(events[0]),
            "id: 1\nevent: media\ndata: {\"title\":\"two\\nlines </script>\"}\n\n");
  hub.Close();
  EXPECT_TRUE(hub.After(0, 1000).empty()) << "a closed hub ends the streams";
}

}  // namespace
