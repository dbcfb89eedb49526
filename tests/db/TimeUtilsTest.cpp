#include "db/TimeUtils.h"

#include <time.h>

#include <array>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "support/VelException.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ScopedZone;
using tev::test::LocalTime;

}  // namespace

TEST(TimeUtils, EveryFormOfTheDocumentExampleIsWrittenAndReadBack) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney"}) {
    ScopedZone scoped(zone);
    const int64_t t = LocalTime(2009, 3, 15, 20, 30, 0);
    scoped.env.SetNow(t + 3600);  // the same daylight period
    EXPECT_EQ(FormatTime3(t), L"20090315203000") << zone;
    EXPECT_EQ(FormatTime2(t), L"2009-03-15 20:30:00") << zone;
    EXPECT_EQ(FormatTime4(t), L"2009-03-15 20:30") << zone;
    EXPECT_EQ(FormatTime(t), L"2009/03/15 20:30:00") << zone;
    EXPECT_EQ(FormatFilenameDate(t), L"03-15-2009 20-30-00") << zone;
    EXPECT_EQ(FormatFilenameDate(LocalTime(2010, 1, 2, 3, 4, 5)), L"01-02-2010 03-04-05") << zone;
    EXPECT_EQ(GetTime3(L"20090315203000"), t) << zone;
    EXPECT_EQ(GetTime2(L"2009-03-15 20:30:00"), t) << zone;
    EXPECT_EQ(GetTime2(L"2009-03-15T20:30:00"), t) << zone;
    EXPECT_EQ(GetTime(L"03-15-2009 20-30-00"), t) << zone;
  }
}

// Now's local fields, daylight flag kept, with the six written over them.
int64_t FreshRead(int64_t now, const std::array<int, 6>& f) {
  const time_t at = static_cast<time_t>(now);
  struct tm l {};
  localtime_r(&at, &l);
  l.tm_year = f[0] - 1900;
  l.tm_mon = f[1] - 1;
  l.tm_mday = f[2];
  l.tm_hour = f[3];
  l.tm_min = f[4];
  l.tm_sec = f[5];
  const int64_t t = static_cast<int64_t>(mktime(&l));
  return t < 0 || t > 32535215999LL ? -1 : t;
}

// Remembered conversions (db/MktimeMemo.h) still follow a switched zone.
RC_GTEST_PROP(TimeUtils, ReadsGiveWhatAFreshConversionGivesInEveryZoneSwitchedTo, ()) {
  static const char* const zones[] = {"Europe/London", "America/New_York", "Australia/Lord_Howe",
                                      "UTC"};
  const int64_t now = *rc::gen::inRange<int64_t>(0, 4102444800LL);  // 1970 .. 2100
  std::array<int, 6> f;
  if (*rc::gen::arbitrary<bool>()) {
    ScopedZone writer(zones[*rc::gen::inRange(0, 4)]);
    const time_t t = static_cast<time_t>(*rc::gen::inRange<int64_t>(0, 32535216000LL));
    struct tm l {};
    RC_ASSERT(localtime_r(&t, &l) != nullptr);
    f = {l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec};
  } else {
    // Out-of-range fields and the years around the range too.
    f[0] = *rc::gen::inRange(1965, 3005);
    f[1] = *rc::gen::inRange(0, 14);
    f[2] = *rc::gen::inRange(0, 33);
    f[3] = *rc::gen::inRange(0, 26);
    f[4] = *rc::gen::inRange(0, 61);
    f[5] = *rc::gen::inRange(0, 61);
  }
  wchar_t text[32];
  swprintf(text, 32, L"%04d%02d%02d%02d%02d%02d", f[0], f[1], f[2], f[3], f[4], f[5]);
  wchar_t media[32];
  swprintf(media, 32, L"%04d-%02d-%02d %02d:%02d:%02d", f[0], f[1], f[2], f[3], f[4], f[5]);
  // A stride of 1 or 3 visits all four zones.
  const int first = *rc::gen::inRange(0, 4);
  const int stride = *rc::gen::element(1, 3);
  for (int i = 0; i < 8; ++i) {
    ScopedZone scoped(zones[(first + i * stride) % 4]);
    scoped.env.SetNow(now);
    const int64_t expected = FreshRead(now, f);
    RC_ASSERT(GetTime3(text) == expected);
    RC_ASSERT(GetTime3(text) == expected);
    RC_ASSERT(GetTime2(media) == expected);
  }
}

TEST(TimeUtils, BadTextsAreReadByPosition) {
  ScopedZone scoped("Europe/Berlin");
  dbtest::LogCapture log;
  const int64_t t = LocalTime(2009, 3, 15, 20, 30, 0);
  scoped.env.SetNow(t);

  EXPECT_EQ(GetTime3(L""), -1);
  // Too long: the first fourteen digits count, and the length is logged.
  EXPECT_EQ(GetTime3(L"200903152030009"), t);
  EXPECT_TRUE(log->Has(LOG_ERROR, L"******* Invalid DB time length: 200903152030009"));
  // Short text: the fields beyond the end read as 0 (second 0, minute 0...).
  EXPECT_EQ(GetTime3(L"200903152030"), LocalTime(2009, 3, 15, 20, 30, 0));
  // Non-digit fields read as 0: day 00 is the last day of the month before.
  EXPECT_EQ(GetTime3(L"200903xx203000"), LocalTime(2009, 2, 28, 20, 30, 0));
  EXPECT_EQ(GetTime3(L"yyyymmddhhmmss"), -1);
  EXPECT_EQ(GetTime2(L"nonsense"), -1);
  EXPECT_EQ(GetTime(L"junk"), -1);
  // Before 1970 and after 3000 are outside the runtime's range.
  EXPECT_EQ(GetTime3(L"19600101000000"), -1);
  EXPECT_EQ(GetTime3(L"30020101000000"), -1);
}

TEST(TimeUtils, WritersRefuseValuesOutsideTheRange) {
  ScopedZone scoped("Europe/Berlin");
  for (auto writer : {FormatTime3, FormatTime2, FormatTime4, FormatTime, FormatFilenameDate}) {
    for (int64_t bad : {int64_t(-1), int64_t(32535216000LL)}) {
      EXPECT_THROW(writer(bad), VelException) << bad;
    }
  }
  EXPECT_EQ(FormatTime3(0), L"19700101010000");
}

TEST(TimeUtils, TimeZoneOffsetIsStandardBiasLessAnHourInSummer) {
  struct Case {
    const char* zone;
    int64_t january;
    int64_t july;
  };
  const Case cases[] = {
      {"Europe/Berlin", -3600, -7200},
      {"America/New_York", 18000, 14400},
      {"Australia/Sydney", -39600, -36000},  // southern summer in January
      {"UTC", 0, 0},
  };
  for (const Case& c : cases) {
    ScopedZone scoped(c.zone);
    scoped.env.SetNow(LocalTime(2021, 1, 15, 12, 0, 0));
    EXPECT_EQ(GetTimeZoneOffset(), c.january) << c.zone;
    scoped.env.SetNow(LocalTime(2021, 7, 15, 12, 0, 0));
    EXPECT_EQ(GetTimeZoneOffset(), c.july) << c.zone;
  }
}
