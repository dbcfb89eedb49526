#include "tools/velctl_time.h"

#include <time.h>

#include <cctype>
#include <cstdio>
#include <ctime>

namespace velctl {

namespace {

int64_t OffsetAt(int64_t utc) {
  time_t t = static_cast<time_t>(utc);
  struct tm local {};
  localtime_r(&t, &local);
  return local.tm_gmtoff;
}

bool ReadClock(const char* text, int* hour, int* minute, int* second) {
  *second = 0;
  int used = 0;
  if (std::sscanf(text, "%2d:%2d:%2d%n", hour, minute, second, &used) == 3 && text[used] == '\0') {
    return true;
  }
  used = 0;
  *second = 0;
  return std::sscanf(text, "%2d:%2d%n", hour, minute, &used) == 2 && text[used] == '\0';
}

}  // namespace

bool ParseDuration(const std::string& text, int64_t* seconds, std::string* error) {
  int64_t total = 0, number = 0;
  bool digits = false, any = false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      number = number * 10 + (c - '0');
      digits = true;
      if (number > 10LL * 365 * 86400) break;
      continue;
    }
    int64_t unit = c == 'h' ? 3600 : c == 'm' ? 60 : c == 's' ? 1 : 0;
    if (unit == 0 || !digits) {
      *error = "\"" + text + "\" is not a duration (examples: 90s, 30m, 1h30m)";
      return false;
    }
    total += number * unit;
    number = 0;
    digits = false;
    any = true;
  }
  if (digits) total += number * (any ? 1 : 60);
  if (number > 10LL * 365 * 86400 || total <= 0 || total > 10LL * 365 * 86400) {
    *error = "\"" + text + "\" is not a duration (examples: 90s, 30m, 1h30m)";
    return false;
  }
  *seconds = total;
  return true;
}

bool ParseAt(const std::string& text, int64_t now, int64_t* start, std::string* error) {
  time_t today = static_cast<time_t>(now);
  struct tm when {};
  localtime_r(&today, &when);
  int hour = 0, minute = 0, second = 0;
  bool clockOnly = ReadClock(text.c_str(), &hour, &minute, &second);
  if (!clockOnly) {
    int year = 0, month = 0, day = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 ||
        (text[used] != ' ' && text[used] != 'T') ||
        !ReadClock(text.c_str() + used + 1, &hour, &minute, &second) || month < 1 || month > 12 ||
        day < 1 || day > 31) {
      *error = "\"" + text + "\" is not a time (examples: 21:00, \"2026-12-24 21:00\")";
      return false;
    }
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
  }
  if (hour > 23 || minute > 59 || second > 59) {
    *error = "\"" + text + "\" is not a time of day";
    return false;
  }
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  time_t local = mktime(&when);
  if (clockOnly && local <= today) {
    when.tm_mday += 1;
    when.tm_isdst = -1;
    local = mktime(&when);
  }
  *start = static_cast<int64_t>(local);
  return true;
}

nlohmann::json StartDateForModule(int64_t utc, int64_t now) {
  // The wire's text form of a date is exact, unlike a day fraction.
  time_t local = static_cast<time_t>(utc + OffsetAt(now));
  struct tm wall {};
  gmtime_r(&local, &wall);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &wall);
  return {{"vt", "DATE"}, {"v", text}};
}

std::string FormatLocal(int64_t utc) {
  time_t t = static_cast<time_t>(utc);
  struct tm local {};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string FormatDuration(int64_t seconds) {
  std::string text;
  if (seconds >= 3600) text += std::to_string(seconds / 3600) + "h";
  if (seconds % 3600 >= 60) text += std::to_string(seconds % 3600 / 60) + "m";
  if (seconds % 60 != 0 || text.empty()) text += std::to_string(seconds % 60) + "s";
  return text;
}

}  // namespace velctl
