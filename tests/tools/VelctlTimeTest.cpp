// Times as typed on velctl's command line and the dates sent to the module.
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/ScopedEnv.h"
#include "tools/velctl_time.h"

namespace {

using namespace velctl;

class VelctlTime : public ::testing::Test {
 protected:
  void SetUp() override { tzset(); }
  void TearDown() override {
    zone_.reset();
    tzset();
  }
  std::unique_ptr<tev::test::ScopedEnv> zone_{new tev::test::ScopedEnv("TZ", "Europe/London")};
};

// 2026-07-01 12:00:00 UTC, 13:00 in London (summer time).
const int64_t kSummerNoon = 1782907200;
// 2026-12-07 12:00:00 UTC, 12:00 in London.
const int64_t kWinterNoon = 1796644800;

TEST_F(VelctlTime, DurationsInUnitsAndBareMinutes) {
  const struct {
    const char* text;
    int64_t seconds;
  } cases[] = {{"90s", 90}, {"30m", 1800}, {"2h", 7200}, {"1h30m", 5400}, {"1h30m15s", 5415}, {"45", 2700}};
  for (const auto& c : cases) {
    int64_t seconds = 0;
    std::string error;
    EXPECT_TRUE(ParseDuration(c.text, &seconds, &error)) << c.text << ": " << error;
    EXPECT_EQ(seconds, c.seconds) << c.text;
  }
  for (const char* bad : {"", "m", "0", "0m", "2x", "1.5h", "-5m", "99999999999999h"}) {
    int64_t seconds = 0;
    std::string error;
    EXPECT_FALSE(ParseDuration(bad, &seconds, &error)) << bad;
    EXPECT_NE(error.find("not a duration"), std::string::npos) << bad;
  }
  EXPECT_EQ((std::vector<std::string>{FormatDuration(90), FormatDuration(5400), FormatDuration(25),
                                      FormatDuration(0)}),
            (std::vector<std::string>{"1m30s", "1h30m", "25s", "0s"}));
}

TEST_F(VelctlTime, ClockTimesAreTodayOrTomorrowInLocalTime) {
  int64_t start = 0;
  std::string error;
  ASSERT_TRUE(ParseAt("21:00", kWinterNoon, &start, &error)) << error;
  EXPECT_EQ(start, kWinterNoon + 9 * 3600);
  ASSERT_TRUE(ParseAt("11:00", kWinterNoon, &start, &error));
  EXPECT_EQ(start, kWinterNoon + 23 * 3600);  // passed today: tomorrow
  ASSERT_TRUE(ParseAt("14:00:30", kSummerNoon, &start, &error));
  EXPECT_EQ(start, kSummerNoon + 3600 + 30);  // 14:00 BST is 13:00 UTC
  EXPECT_EQ(FormatLocal(kSummerNoon), "2026-07-01 13:00");
}

TEST_F(VelctlTime, DatesAcrossASummerTimeChange) {
  int64_t start = 0;
  std::string error;
  // Asked in winter for a summer evening: 21:00 BST is 20:00 UTC.
  ASSERT_TRUE(ParseAt("2026-07-01 21:00", kWinterNoon, &start, &error)) << error;
  EXPECT_EQ(start, kSummerNoon + 8 * 3600);
  ASSERT_TRUE(ParseAt("2026-07-01T21:00:00", kWinterNoon, &start, &error));
  EXPECT_EQ(start, kSummerNoon + 8 * 3600);
  // The module applies the offset in force when the request arrives (winter: 0).
  EXPECT_EQ(StartDateForModule(start, kWinterNoon)["v"], "2026-07-01T20:00:00");
  EXPECT_EQ(StartDateForModule(start, kSummerNoon)["v"], "2026-07-01T21:00:00");
  EXPECT_EQ(StartDateForModule(start, kSummerNoon)["vt"], "DATE");
  for (const char* bad : {"9pm", "25:00", "12:60", "2026-13-01 10:00", "2026-12-01", "tomorrow"}) {
    EXPECT_FALSE(ParseAt(bad, kWinterNoon, &start, &error)) << bad;
  }
}

}  // namespace
