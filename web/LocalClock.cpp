#include "web/LocalClock.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace web {

namespace {

// Wall-clock fields read as local time.
int64_t LocalFieldsToUtc(struct tm fields) {
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

}  // namespace

bool LocalTextToUtc(const std::string& text, int64_t* utc) {
  struct tm fields {};
  char separator = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                  &fields.tm_mday, &separator, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                  &used) != 7 ||
      (separator != ' ' && separator != 'T')) {
    return false;
  }
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  *utc = LocalFieldsToUtc(fields);
  return true;
}

bool LocalDateToUtc(const nlohmann::json& value, int64_t* utc) {
  if (!value.is_object() || value.value("vt", std::string()) != "DATE" || !value.contains("v")) {
    return false;
  }
  const nlohmann::json& v = value["v"];
  if (v.is_string()) return LocalTextToUtc(v.get<std::string>(), utc);
  if (!v.is_number()) return false;
  // OLE date: days since 1899-12-30 of the local clock.
  const double seconds = std::round((v.get<double>() - 25569.0) * 86400.0);
  if (!(std::fabs(seconds) < 1e12)) return false;
  const time_t wall = static_cast<time_t>(seconds);
  struct tm fields {};
  gmtime_r(&wall, &fields);
  *utc = LocalFieldsToUtc(fields);
  return true;
}

nlohmann::json UtcToLocalDate(int64_t utc) {
  const time_t t = static_cast<time_t>(utc);
  struct tm local {};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return {{"vt", "DATE"}, {"v", text}};
}

}  // namespace web
