#include "db/TimeUtils.h"

#include <time.h>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "platform/Clock.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"
#include "vel/VelException.h"

namespace {

// Runs the scope under one time zone, the clock unshifted.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) : zone_("TZ", zone) { tzset(); }
  // Moves "now" for the scope.
  tev::test::FakeEnv env;

 private:
  struct Reread {
    ~Reread() { tzset(); }
  } reread_;  // destroyed after zone_ has put the old zone back
  dbtest::ScopedEnv zone_;
};

// The time value of a local wall-clock time, the zone deciding DST.
int64_t Local(int year, int month, int day, int hour, int minute, int second) {
  return tev::test::LocalTime(year, month, day, hour, minute, second);
}


const char* const kZones[] = {"Europe/Berlin", "America/New_York", "Australia/Sydney"};

}  // namespace

TEST(TimeUtils, WritersGiveEveryFormOfTheDocumentExample) {
  for (const char* zone : kZones) {
    ScopedZone scoped(zone);
    const int64_t t = Local(2009, 3, 15, 20, 30, 0);
    EXPECT_EQ(FormatTime3(t), L"20090315203000") << zone;
    EXPECT_EQ(FormatTime2(t), L"2009-03-15 20:30:00") << zone;
    EXPECT_EQ(FormatTime4(t), L"2009-03-15 20:30") << zone;
    EXPECT_EQ(FormatTime(t), L"2009/03/15 20:30:00") << zone;
    EXPECT_EQ(FormatFilenameDate(t), L"03-15-2009 20-30-00") << zone;
    // Zero padding of every field.
    EXPECT_EQ(FormatTime3(Local(2010, 1, 2, 3, 4, 5)), L"20100102030405") << zone;
    EXPECT_EQ(FormatFilenameDate(Local(2010, 1, 2, 3, 4, 5)), L"01-02-2010 03-04-05") << zone;
  }
}

// The database and media texts, written digit by digit, are what the C
// library's "%04d%02d..." makes of the same local time, over the whole range.
RC_GTEST_PROP(TimeUtils, DatabaseAndMediaTextsMatchTheFormattedLocalTime, ()) {
  ScopedZone scoped(*rc::gen::element("Europe/Berlin", "America/New_York", "Australia/Sydney"));
  const int64_t t = *rc::gen::inRange<int64_t>(0, 32535216000LL);
  const time_t value = static_cast<time_t>(t);
  struct tm l {};
  RC_ASSERT(localtime_r(&value, &l) != nullptr);
  wchar_t expected[64];
  swprintf(expected, 64, L"%04d%02d%02d%02d%02d%02d", l.tm_year + 1900, l.tm_mon + 1, l.tm_mday,
           l.tm_hour, l.tm_min, l.tm_sec);
  RC_ASSERT(FormatTime3(t) == std::wstring(expected));
  swprintf(expected, 64, L"%04d-%02d-%02d %02d:%02d:%02d", l.tm_year + 1900, l.tm_mon + 1,
           l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec);
  RC_ASSERT(FormatTime2(t) == std::wstring(expected));
}

TEST(TimeUtils, ReadersGiveTheExampleBackInTheSameDaylightPeriod) {
  for (const char* zone : kZones) {
    ScopedZone scoped(zone);
    const int64_t t = Local(2009, 3, 15, 20, 30, 0);
    scoped.env.SetNow(t + 3600);
    EXPECT_EQ(GetTime3(L"20090315203000"), t) << zone;
    EXPECT_EQ(GetTime2(L"2009-03-15 20:30:00"), t) << zone;
    EXPECT_EQ(GetTime2(L"2009-03-15T20:30:00"), t) << zone;
    EXPECT_EQ(GetTime(L"03-15-2009 20-30-00"), t) << zone;
    EXPECT_EQ(GetTime(FormatFilenameDate(t)), t) << zone;
  }
}

TEST(TimeUtils, ReaderAppliesThePresentDaylightFlagAcrossAChange) {
  for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
    ScopedZone scoped(zone);
    const int64_t winter = Local(2009, 1, 15, 12, 0, 0);
    const int64_t summer = Local(2009, 7, 15, 12, 0, 0);
    // Now in summer: a winter text is read with DST on, one hour early.
    scoped.env.SetNow(summer);
    EXPECT_EQ(GetTime3(FormatTime3(summer)), summer) << zone;
    EXPECT_EQ(GetTime3(FormatTime3(winter)), winter - 3600) << zone;
    // Now in winter: a summer text is read with DST off, one hour late.
    scoped.env.SetNow(winter);
    EXPECT_EQ(GetTime3(FormatTime3(winter)), winter) << zone;
    EXPECT_EQ(GetTime3(FormatTime3(summer)), summer + 3600) << zone;
  }
}

RC_GTEST_PROP(TimeUtils, DatabaseTimeRoundTripsWhenNowSharesItsPeriod, ()) {
  ScopedZone scoped(*rc::gen::element("Europe/Berlin", "America/New_York", "Australia/Sydney"));
  const int64_t t = *rc::gen::inRange<int64_t>(0, 4102444800LL);  // 1970 .. 2100
  scoped.env.SetNow(t);
  RC_ASSERT(GetTime3(FormatTime3(t)) == t);
  RC_ASSERT(GetTime2(FormatTime2(t)) == t);
  RC_ASSERT(GetTime(FormatFilenameDate(t)) == t);
}

TEST(TimeUtils, BadTextsAreLoggedAndReadByPosition) {
  ScopedZone scoped("Europe/Berlin");
  dbtest::LogCapture log;
  const int64_t t = Local(2009, 3, 15, 20, 30, 0);
  scoped.env.SetNow(t);

  EXPECT_EQ(GetTime3(L""), -1);
  auto lines = log->Lines();
  ASSERT_EQ(lines.size(), 2u) << tev::ToStdUtf8(log->Dump());
  EXPECT_EQ(lines[0].text, L"******* Invalid DB time length: ");
  EXPECT_EQ(lines[1].text, L"******* Invalid DB time: ");
  EXPECT_EQ(lines[0].level, LOG_ERROR);

  log->Clear();
  EXPECT_EQ(GetTime3(L"200903152030009"), t);
  EXPECT_TRUE(log->Has(LOG_ERROR, L"******* Invalid DB time length: 200903152030009"));
  EXPECT_EQ(log->Lines().size(), 1u);

  // Short text: the fields beyond the end read as 0 (second 0, minute 0...).
  log->Clear();
  EXPECT_EQ(GetTime3(L"200903152030"), Local(2009, 3, 15, 20, 30, 0));
  // Non-digit fields read as 0: day 00 is the last day of the month before.
  EXPECT_EQ(GetTime3(L"200903xx203000"), Local(2009, 2, 28, 20, 30, 0));
  // No valid time at all.
  log->Clear();
  EXPECT_EQ(GetTime3(L"yyyymmddhhmmss"), -1);
  EXPECT_TRUE(log->Has(LOG_ERROR, L"******* Invalid DB time: yyyymmddhhmmss"));
  EXPECT_EQ(GetTime2(L"nonsense"), -1);
  EXPECT_TRUE(log->Has(LOG_ERROR, L"******* Invalid TevMedia time: nonsense"));
  log->Clear();
  EXPECT_EQ(GetTime(L"junk"), -1);
  EXPECT_TRUE(log->Lines().empty());
  // Before 1970 and after 3000 are outside the runtime's range.
  EXPECT_EQ(GetTime3(L"19600101000000"), -1);
  EXPECT_EQ(GetTime3(L"30020101000000"), -1);
  // Quotes, emoji and percent signs are only text to skip.
  EXPECT_EQ(GetTime3(L"%s'\U0001F600"), -1);
}

TEST(TimeUtils, WritersRefuseValuesOutsideTheRange) {
  ScopedZone scoped("Europe/Berlin");
  struct Case {
    std::wstring (*writer)(int64_t);
    const wchar_t* message;
  };
  const Case cases[] = {
      {FormatTime3, L"FormatTime3: Localtime failed"},
      {FormatTime2, L"FormatTime2: Localtime failed"},
      {FormatTime4, L"FormatTime4: Localtime failed"},
      {FormatTime, L"FormatTime: Localtime failed"},
      {FormatFilenameDate, L"FormatFilenameDate: Localtime failed"},
  };
  for (const Case& c : cases) {
    for (int64_t bad : {int64_t(-1), int64_t(32535216000LL)}) {
      try {
        c.writer(bad);
        ADD_FAILURE() << "no exception for " << bad;
      } catch (const VelException& e) {
        EXPECT_EQ(e.getMessage(), c.message);
      }
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
    scoped.env.SetNow(Local(2021, 1, 15, 12, 0, 0));
    EXPECT_EQ(GetTimeZoneOffset(), c.january) << c.zone;
    scoped.env.SetNow(Local(2021, 7, 15, 12, 0, 0));
    EXPECT_EQ(GetTimeZoneOffset(), c.july) << c.zone;
  }
}
