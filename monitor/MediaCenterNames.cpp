// Names of recordings made by other programs, Windows Media Center's above
// all: "<title>_<channel>_<day>_<month>_<year>_<hour>_<minute>_<second>
// .dvr-ms".
#include <ctime>
#include <string>

#include "db/TextNumbers.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/MonitorFiles.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

// Years a start may have (the range the recorder's own clock functions
// convert).
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 3000;

// Local time of the six numbers, or -1 when they name no such moment
// (mktime would quietly carry a 31st of February into March).
int64_t LocalTime(int day, int month, int year, int hour, int minute, int second,
                  const struct tm& now) {
  if (year < kFirstYear || year > kLastYear) return -1;
  struct tm wanted = now;
  wanted.tm_year = year - 1900;
  wanted.tm_mon = month - 1;
  wanted.tm_mday = day;
  wanted.tm_hour = hour;
  wanted.tm_min = minute;
  wanted.tm_sec = second;
  wanted.tm_isdst = -1;  // the zone's rule for that date, not today's
  struct tm made = wanted;
  const time_t t = mktime(&made);
  if (t == static_cast<time_t>(-1)) return -1;
  if (made.tm_year != wanted.tm_year || made.tm_mon != wanted.tm_mon ||
      made.tm_mday != wanted.tm_mday || made.tm_hour != wanted.tm_hour ||
      made.tm_min != wanted.tm_min || made.tm_sec != wanted.tm_sec) {
    return -1;  // out of range, or a local time skipped by a clock change
  }
  return static_cast<int64_t>(t);
}

}  // namespace

int32_t FileSystemMonitor::GetIntFromFilename(std::wstring* text) {
  const size_t underscore = text->rfind(L'_');
  if (underscore == std::wstring::npos) {
    throw VelException(L"FileSystemMonitor::GetIntFromFilename Could not find underscore");
  }
  const int32_t value = tev::Wtoi(text->substr(underscore + 1));
  text->erase(underscore);
  return value;
}

bool FileSystemMonitor::ParseMediaCenterFilename(const std::wstring& folder,
                                                 const std::wstring& name, std::wstring* channel,
                                                 std::wstring* title, int64_t* start,
                                                 std::wstring* extension) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  *extension = name.substr(dot + 1);
  if (Kind() != L"audio" && !tev::EqualsNoCase(*extension, L"dvr-ms")) return false;

  std::wstring rest = name.substr(0, dot);
  const time_t now = static_cast<time_t>(tev::Clock::Now());
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) {
    LogError(L"FileSystemMonitor::ParseMediaCenterFilename::localtime_s");
  }
  try {
    const int second = GetIntFromFilename(&rest);
    const int minute = GetIntFromFilename(&rest);
    const int hour = GetIntFromFilename(&rest);
    const int year = GetIntFromFilename(&rest);
    const int month = GetIntFromFilename(&rest);
    const int day = GetIntFromFilename(&rest);
    *start = LocalTime(day, month, year, hour, minute, second, local);
    if (*start == -1) *start = monitorfiles::ModificationTime(folder, name);
  } catch (const VelException&) {
    LogDebug(L"ParseMediaCenterFilename could not parse %ls", rest.c_str());
    *title = rest;
    channel->clear();
    *start = monitorfiles::ModificationTime(folder, name);
    return true;
  }
  const size_t underscore = rest.rfind(L'_');
  if (rest.find(L'_', 1) != std::wstring::npos) {
    *channel = rest.substr(underscore + 1);
    *title = rest.substr(0, underscore);
  } else {
    channel->clear();
    *title = rest;
  }
  return true;
}
