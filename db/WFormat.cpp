#include "db/WFormat.h"

#include <cstdarg>
#include <cwchar>
#include <memory>

namespace tev {
namespace {

// Whether every conversion of `format` is %ls, %d or %%: the formats of
// nearly all statements, written here directly at a fraction of
// vswprintf's cost.
bool OnlyTextAndIntegers(const wchar_t* format) {
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') continue;
    if (p[1] == L'%' || p[1] == L'd') {
      ++p;
    } else if (p[1] == L'l' && p[2] == L's') {
      p += 2;
    } else {
      return false;
    }
  }
  return true;
}

// What vswprintf writes for such a format.
std::wstring FormatTextAndIntegers(const wchar_t* format, va_list args) {
  std::wstring out;
  out.reserve(256);
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      const wchar_t* run = p;
      while (p[1] != L'\0' && p[1] != L'%') ++p;
      out.append(run, static_cast<size_t>(p - run) + 1);
      continue;
    }
    ++p;
    if (*p == L'%') {
      out += L'%';
    } else if (*p == L'd') {
      const int value = va_arg(args, int);
      wchar_t digits[12];
      size_t at = sizeof(digits) / sizeof(digits[0]);
      // Unsigned, so that the most negative int has a magnitude too.
      unsigned int magnitude =
          value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
      do {
        digits[--at] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
      } while (magnitude != 0);
      if (value < 0) digits[--at] = L'-';
      out.append(digits + at, sizeof(digits) / sizeof(digits[0]) - at);
    } else {  // "ls"
      ++p;
      const wchar_t* text = va_arg(args, const wchar_t*);
      out += text != nullptr ? text : L"(null)";
    }
  }
  return out;
}

}  // namespace

std::wstring WFormat(const wchar_t* format, ...) {
  if (OnlyTextAndIntegers(format)) {
    va_list args;
    va_start(args, format);
    std::wstring out = FormatTextAndIntegers(format, args);
    va_end(args);
    return out;
  }
  // vswprintf reports only "too small" (-1), so grow until it fits; an
  // invalid format also gives -1, hence the limit. The first try goes to a
  // buffer of the thread, never cleared or allocated.
  thread_local wchar_t first[4096];
  std::unique_ptr<wchar_t[]> larger;
  for (size_t size = sizeof(first) / sizeof(first[0]); size <= (size_t{1} << 23); size *= 2) {
    wchar_t* buffer = first;
    if (size > sizeof(first) / sizeof(first[0])) {
      larger.reset(new wchar_t[size]);
      buffer = larger.get();
    }
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buffer, size, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < size) {
      return std::wstring(buffer, static_cast<size_t>(n));
    }
  }
  return std::wstring();
}

}  // namespace tev
