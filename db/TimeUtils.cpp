#include "db/TimeUtils.h"

#include <time.h>

#include <cwchar>
#include <limits>

#include "db/MktimeMemo.h"
#include "db/TextNumbers.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

// The range of the 64-bit runtime conversions the stored times were made
// with: 1970-01-01 00:00:00 to 3000-12-31 23:59:59 UTC. Outside it the
// local-time conversion fails and the back conversion gives -1, whatever
// the C library here could represent.
constexpr int64_t kMaxTime = 32535215999LL;

bool ToLocal(int64_t t, struct tm* out) {
  if (t < 0 || t > kMaxTime) return false;
  time_t value = static_cast<time_t>(t);
  return localtime_r(&value, out) != nullptr;
}

struct tm LocalOrThrow(int64_t t, const wchar_t* failure) {
  struct tm local = {};
  if (!ToLocal(t, &local)) throw VelException(failure);
  return local;
}

std::wstring Print(const wchar_t* format, int a, int b, int c, int d, int e, int f) {
  wchar_t buffer[64];
  int n = std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), format, a, b, c, d, e, f);
  return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

// Six fields, each as "%0<width>d" writes it, with separators[i] (none when
// 0) after field i: the texts of the writers below without a formatted
// print, which costs far more than the digits (times are written for every
// statement). Falls back to `format` for a negative field.
std::wstring Fields(const int (&values)[6], const int (&widths)[6], const wchar_t (&separators)[5],
                    const wchar_t* format) {
  wchar_t buffer[64];
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    int value = values[i];
    if (value < 0) {
      return Print(format, values[0], values[1], values[2], values[3], values[4], values[5]);
    }
    wchar_t digits[12];
    int count = 0;
    do {
      digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
      value /= 10;
    } while (value > 0);
    for (int pad = count; pad < widths[i]; ++pad) buffer[at++] = L'0';
    while (count > 0) buffer[at++] = digits[--count];
    if (i < 5 && separators[i] != L'\0') buffer[at++] = separators[i];
  }
  return std::wstring(buffer, at);
}

// The field at (position, length); empty when it lies beyond the text.
int32_t Field(const std::wstring& text, size_t position, size_t length) {
  if (position >= text.size()) return 0;
  return tev::Wtoi(text.substr(position, length));
}

struct Layout {
  size_t year, month, day, hour, minute, second;
};

// Steps 2 to 4 of every reader: the present moment's broken-down time with
// the text's six fields written over it, converted back (through the memo:
// the same answer as mktime without its per-call look at the zone file).
// -1 when the conversion fails or leaves the runtime's range.
int64_t Read(const std::wstring& text, const Layout& at, const wchar_t* failure) {
  struct tm local = LocalOrThrow(tev::Clock::Now(), failure);
  local.tm_sec = Field(text, at.second, 2);
  local.tm_min = Field(text, at.minute, 2);
  local.tm_hour = Field(text, at.hour, 2);
  local.tm_year = Field(text, at.year, 4) - 1900;
  local.tm_mon = Field(text, at.month, 2) - 1;
  local.tm_mday = Field(text, at.day, 2);
  const int64_t value = tev::MemoisedMktime(local);
  if (value < 0 || value > kMaxTime) return -1;
  return value;
}

}  // namespace

std::wstring FormatTime3(int64_t t) {
  struct tm l = LocalOrThrow(t, L"FormatTime3: Localtime failed");
  return Fields({l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec},
                {4, 2, 2, 2, 2, 2}, {0, 0, 0, 0, 0}, L"%04d%02d%02d%02d%02d%02d");
}

std::wstring FormatTime2(int64_t t) {
  struct tm l = LocalOrThrow(t, L"FormatTime2: Localtime failed");
  return Fields({l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec},
                {4, 2, 2, 2, 2, 2}, {L'-', L'-', L' ', L':', L':'}, L"%04d-%02d-%02d %02d:%02d:%02d");
}

std::wstring FormatTime4(int64_t t) {
  struct tm l = LocalOrThrow(t, L"FormatTime4: Localtime failed");
  wchar_t buffer[48];
  int n = std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"%04d-%02d-%02d %02d:%02d",
                        l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min);
  return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

std::wstring FormatTime(int64_t t) {
  struct tm l = LocalOrThrow(t, L"FormatTime: Localtime failed");
  return Print(L"%04d/%02d/%02d %02d:%02d:%02d", l.tm_year + 1900, l.tm_mon + 1, l.tm_mday,
               l.tm_hour, l.tm_min, l.tm_sec);
}

std::wstring FormatFilenameDate(int64_t t) {
  struct tm l = LocalOrThrow(t, L"FormatFilenameDate: Localtime failed");
  return Print(L"%02d-%02d-%02d %02d-%02d-%02d", l.tm_mon + 1, l.tm_mday, l.tm_year + 1900,
               l.tm_hour, l.tm_min, l.tm_sec);
}

int64_t GetTime3(const std::wstring& text) {
  if (text.size() != 14) LogError(L"******* Invalid DB time length: %ls", text.c_str());
  int64_t result = Read(text, Layout{0, 4, 6, 8, 10, 12}, L"GetTime3: Localtime failed");
  if (result == -1) LogError(L"******* Invalid DB time: %ls", text.c_str());
  return result;
}

int64_t GetTime2(const std::wstring& text) {
  int64_t result = Read(text, Layout{0, 5, 8, 11, 14, 17}, L"GetTime2: Localtime failed");
  if (result == -1) LogError(L"******* Invalid TevMedia time: %ls", text.c_str());
  return result;
}

int64_t GetTime(const std::wstring& text) {
  return Read(text, Layout{6, 0, 3, 11, 14, 17}, L"GetTime: Localtime failed");
}

int64_t GetTimeZoneOffset() {
  tzset();
  struct tm local = {};
  time_t now = static_cast<time_t>(tev::Clock::Now());
  localtime_r(&now, &local);
  // glibc's `timezone`: seconds west of UTC of the zone's standard time.
  int64_t biasMinutes = static_cast<int64_t>(timezone) / 60;
  if (local.tm_isdst > 0) biasMinutes -= 60;
  return biasMinutes * 60;
}

int32_t SecondsToWireMs(int64_t seconds) {
  const int64_t limit = std::numeric_limits<int32_t>::max() / 1000;
  if (seconds > limit) return std::numeric_limits<int32_t>::max();
  if (seconds < -limit) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(seconds * 1000);
}
