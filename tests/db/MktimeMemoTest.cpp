#include "db/MktimeMemo.h"

#include <time.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace

// With TZ unset glibc re-reads a changed zone file.
TEST(MktimeMemo, NoticesAChangedZoneFileOnceASecondWithTzUnset) {
  dbtest::TempDir dir;
  const std::string zoneFile = dir.path() + "/localtime";
  dbtest::WriteBytes(zoneFile, "one");
  tev::MktimeMemo memo(zoneFile);
  const struct tm fields = Fields(2021, 3, 15, 20, 30, 0);
  // Converts at `second` (as mktime would) and gives the zone changes seen.
  auto changesAt = [&](int64_t second) {
    EXPECT_EQ(memo.Convert(fields, second), Fresh(fields)) << second;
    return memo.ZoneChanges();
  };
  {
    ScopedZone unset(nullptr);
    EXPECT_EQ(changesAt(100), 1);
    EXPECT_EQ(changesAt(100), 1);
    EXPECT_EQ(changesAt(101), 1);
    dbtest::WriteBytes(zoneFile, "two, longer");
    EXPECT_EQ(changesAt(101), 1);  // not looked at within the second
    EXPECT_EQ(changesAt(102), 2);
    // Replaced by another file (a new inode), then gone.
    dbtest::WriteBytes(zoneFile + ".new", "two, longer");
    std::rename((zoneFile + ".new").c_str(), zoneFile.c_str());
    EXPECT_EQ(changesAt(103), 3);
    std::remove(zoneFile.c_str());
    EXPECT_EQ(changesAt(104), 4);
    EXPECT_EQ(changesAt(105), 4);
  }
  // With TZ set the file is not looked at.
  ScopedZone london("Europe/London");
  EXPECT_EQ(changesAt(105), 5);
  dbtest::WriteBytes(zoneFile, "three");
  EXPECT_EQ(changesAt(106), 5);
}

// In an hour that occurs twice mktime answers by its previous call's offset,
// even with a daylight flag where the standard offset went back (Moscow 2014).
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
    // Both instants were given.
    EXPECT_EQ(answers.size(), 2u) << c.zone;
  }
}

