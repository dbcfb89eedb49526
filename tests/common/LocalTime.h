// Times as tests write them: in the zone TZ names, in UTC, and as clients and
// the guide send a local time (its wall clock read as UTC).
#ifndef TEV_TESTS_COMMON_LOCALTIME_H_
#define TEV_TESTS_COMMON_LOCALTIME_H_

#include <time.h>

#include <cstdint>

namespace tev {
namespace test {

inline struct tm Fields(int year, int month, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

inline int64_t LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm t = Fields(year, month, day, hour, minute, second);
  return static_cast<int64_t>(mktime(&t));
}

inline int64_t UtcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm t = Fields(year, month, day, hour, minute, second);
  return static_cast<int64_t>(timegm(&t));
}

// The wall clock of zone TZ at `utc`, read as UTC.
inline int64_t WallClock(int64_t utc) {
  const time_t when = static_cast<time_t>(utc);
  struct tm t {};
  localtime_r(&when, &t);
  return static_cast<int64_t>(timegm(&t));
}

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_LOCALTIME_H_
