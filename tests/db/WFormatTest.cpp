// WFormat's short path for %ls and %d must write what the C library writes.
#include <climits>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "db/WFormat.h"

namespace {

std::wstring Reference(const wchar_t* format, const wchar_t* text, int number) {
  wchar_t buffer[512];
  const int n = std::swprintf(buffer, 512, format, text, number);
  return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

TEST(WFormatTest, WritesWhatTheCLibraryWrites) {
  const wchar_t* texts[] = {L"", L"Name", L"O'Brien", L"\u00e9t\u00e9 \U0001F4FA", nullptr};
  const int numbers[] = {0, 7, -1, 2026, INT_MAX, INT_MIN};
  const wchar_t* formats[] = {
      L"SELECT * FROM Schedules WHERE %ls = %d",
      L"%ls%d",
      L"100%% of '%ls' at %d%%",
      L"no conversions but %% here %ls %d",
      L"%ls = %02d",        // not on the short path
      L"%ls:%5d|",           // not on the short path either
  };
  for (const wchar_t* format : formats) {
    for (const wchar_t* text : texts) {
      for (int number : numbers) {
        EXPECT_EQ(tev::WFormat(format, text, number), Reference(format, text, number))
            << format << " / " << (text ? text : L"null") << " / " << number;
      }
    }
  }
  EXPECT_EQ(tev::WFormat(L"plain"), L"plain");
  EXPECT_EQ(tev::WFormat(L""), L"");
  EXPECT_EQ(tev::WFormat(L"%ls", std::wstring(10000, L'x').c_str()), std::wstring(10000, L'x'));
}

}  // namespace
