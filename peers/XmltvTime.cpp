#include <cctype>
#include <ctime>
#include <limits>

#include "peers/XmltvGuide.h"

namespace tev {
namespace peers {

namespace {

bool Digits(const std::string& text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool ParseXmltvTime(const std::string& text, int64_t* localSeconds) {
  struct tm fields {};
  int year, month, day, hour, minute, second;
  if (!Digits(text, 0, 4, &year) || !Digits(text, 4, 2, &month) || !Digits(text, 6, 2, &day) ||
      !Digits(text, 8, 2, &hour) || !Digits(text, 10, 2, &minute) || !Digits(text, 12, 2, &second)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  const int64_t asUtc = static_cast<int64_t>(timegm(&fields));
  size_t sign = text.find_first_of("+-", 14);
  if (sign == std::string::npos) {
    *localSeconds = asUtc;
    return true;
  }
  int offsetHours, offsetMinutes;
  if (!Digits(text, sign + 1, 2, &offsetHours) || !Digits(text, sign + 3, 2, &offsetMinutes)) {
    return false;
  }
  int64_t offset = offsetHours * 3600 + offsetMinutes * 60;
  if (text[sign] == '-') offset = -offset;
  const time_t utc = static_cast<time_t>(asUtc - offset);
  struct tm local {};
  if (localtime_r(&utc, &local) == nullptr) return false;
  *localSeconds = static_cast<int64_t>(utc) + local.tm_gmtoff;
  return true;
}

int64_t ShiftPastListings(std::vector<GuideChannel>* channels, int64_t nowLocal) {
  int64_t first = std::numeric_limits<int64_t>::max();
  int64_t lastEnd = std::numeric_limits<int64_t>::min();
  for (const GuideChannel& channel : *channels) {
    for (const GuideProgram& p : channel.programs) {
      if (p.start < first) first = p.start;
      if (p.start + p.duration > lastEnd) lastEnd = p.start + p.duration;
    }
  }
  if (first == std::numeric_limits<int64_t>::max() || lastEnd >= nowLocal) return 0;
  const int64_t days = (nowLocal / 86400) - (first / 86400);
  if (days <= 0) return 0;
  for (GuideChannel& channel : *channels) {
    for (GuideProgram& p : channel.programs) p.start += days * 86400;
  }
  return days;
}

}  // namespace peers
}  // namespace tev
