#include "db/MktimeMemo.h"

#include <time.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ScopedZone;

struct tm Fields(int year, int month, int day, int hour, int minute, int isdst) {
  struct tm t = tev::test::Fields(year, month, day, hour, minute, 0);
  t.tm_isdst = isdst;
  return t;
}

int64_t Fresh(struct tm t) { return static_cast<int64_t>(mktime(&t)); }

long OffsetAt(int64_t t) {
  const time_t at = static_cast<time_t>(t);
  struct tm l {};
  localtime_r(&at, &l);
  return l.tm_gmtoff;
}

// The first instant after `t` whose offset differs from the one before it,
// within about a year; -1 when there is none (UTC).
int64_t NextChange(int64_t t) {
  int64_t after = t;
  while (OffsetAt(after) == OffsetAt(t)) {
    after += 86400;
    if (after - t > 400 * 86400) return -1;
  }
  int64_t before = after - 86400;  // offset of t; after has the new one
  while (after - before > 1) {
    const int64_t middle = before + (after - before) / 2;
    (OffsetAt(middle) == OffsetAt(t) ? before : after) = middle;
  }
  return after;
}

}  // namespace

// With TZ unset glibc re-reads the zone file whenever it changed; the memo
// looks at it once per second given and starts again when it changed. With
// TZ set only the text of TZ counts, as for glibc.
TEST(MktimeMemo, NoticesAChangedZoneFileOnceASecondWithTzUnsetAndTzTextAlways) {
  dbtest::TempDir dir;
  const std::string zoneFile = dir.path() + "/localtime";
  dbtest::WriteBytes(zoneFile, "one");
  tev::MktimeMemo memo(zoneFile);
  const struct tm fields = Fields(2021, 3, 15, 20, 30, 0);
  {
    ScopedZone unset(nullptr);
    EXPECT_EQ(memo.Convert(fields, 100), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 1);
    EXPECT_EQ(memo.Convert(fields, 100), Fresh(fields));
    EXPECT_EQ(memo.Convert(fields, 101), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 1);  // looked at again, unchanged

    dbtest::WriteBytes(zoneFile, "two, longer");
    EXPECT_EQ(memo.Convert(fields, 101), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 1);  // not looked at within the second
    EXPECT_EQ(memo.Convert(fields, 102), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 2);
    // Replaced by another file (a new inode), then gone.
    dbtest::WriteBytes(zoneFile + ".new", "two, longer");
    std::rename((zoneFile + ".new").c_str(), zoneFile.c_str());
    memo.Convert(fields, 103);
    EXPECT_EQ(memo.ZoneChanges(), 3);
    std::remove(zoneFile.c_str());
    memo.Convert(fields, 104);
    EXPECT_EQ(memo.ZoneChanges(), 4);
    memo.Convert(fields, 105);
    EXPECT_EQ(memo.ZoneChanges(), 4);
  }
  {
    ScopedZone london("Europe/London");
    EXPECT_EQ(memo.Convert(fields, 105), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 5);
    dbtest::WriteBytes(zoneFile, "three");
    EXPECT_EQ(memo.Convert(fields, 106), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 5);
  }
  {
    ScopedZone newYork("America/New_York");
    EXPECT_EQ(memo.Convert(fields, 106), Fresh(fields));
    EXPECT_EQ(memo.ZoneChanges(), 6);
  }
}

// In an hour that occurs twice, mktime answers by the offset of its
// previous call: without a daylight flag at every autumn change, and even
// with one where the standard offset itself went back (Moscow, 2014). The
// memo must pin neither answer.
TEST(MktimeMemo, ARepeatedHourFollowsMktimeWhateverCameBefore) {
  struct Case {
    const char* zone;
    struct tm repeated, summer, winter;
  };
  const Case cases[] = {
      {"Europe/London", Fields(2021, 10, 31, 1, 30, -1), Fields(2021, 7, 1, 12, 0, -1),
       Fields(2021, 12, 1, 12, 0, -1)},
      {"Europe/Moscow", Fields(2014, 10, 26, 1, 30, 0), Fields(2014, 7, 1, 12, 0, -1),
       Fields(2014, 12, 1, 12, 0, -1)},
  };
  for (const Case& c : cases) {
    ScopedZone zone(c.zone);
    std::set<int64_t> answers;
    for (int round = 0; round < 2; ++round) {
      for (const struct tm& before : {c.summer, c.winter}) {
        Fresh(before);
        const int64_t expected = Fresh(c.repeated);
        Fresh(before);
        EXPECT_EQ(tev::MemoisedMktime(c.repeated), expected) << c.zone;
        answers.insert(expected);
      }
    }
    // Both instants were given, so the case is the one described.
    EXPECT_EQ(answers.size(), 2u) << c.zone;
  }
}

// Any fields, any daylight flag (-1 included), near offset changes or not,
// read twice and across zone switches: what a fresh mktime gives.
RC_GTEST_PROP(MktimeMemo, GivesWhatAFreshMktimeGives, ()) {
  static const char* const zones[] = {"Europe/London", "America/New_York", "Australia/Lord_Howe",
                                      "UTC"};
  struct tm fields {};
  {
    // The local fields of an instant of one zone, half the time within
    // three hours of one of its offset changes, minutes then moved as
    // given (into a skipped or repeated hour).
    ScopedZone writer(zones[*rc::gen::inRange(0, 4)]);
    int64_t t = *rc::gen::inRange<int64_t>(0, 32535216000LL - 400 * 86400);
    const int64_t change = NextChange(t);
    if (change != -1 && *rc::gen::arbitrary<bool>()) t = change - 3 * 3600;
    const time_t at = static_cast<time_t>(t);
    RC_ASSERT(localtime_r(&at, &fields) != nullptr);
    fields.tm_min += *rc::gen::inRange(0, 6 * 60);
  }
  for (int i = 0; i < 8; ++i) {
    ScopedZone scoped(zones[*rc::gen::inRange(0, 4)]);
    fields.tm_isdst = *rc::gen::inRange(-1, 2);
    const int64_t expected = Fresh(fields);
    RC_ASSERT(tev::MemoisedMktime(fields) == expected);
    RC_ASSERT(tev::MemoisedMktime(fields) == expected);
  }
}
