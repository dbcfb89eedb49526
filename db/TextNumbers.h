// Decimal text to number the way the C runtime's _wtoi/_wtoi64/atoi read
// it: leading white space, an optional sign, then digits up to the first
// other character; no digits gives 0, and a value beyond the type's range
// saturates at its limit.
#ifndef TEV_DB_TEXTNUMBERS_H_
#define TEV_DB_TEXTNUMBERS_H_

#include <cstdint>
#include <cwctype>
#include <limits>
#include <string>

namespace tev {

template <class Char>
int64_t ParseLeadingInt64(const Char* text, size_t length) {
  size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so that INT64_MIN is reachable.
  int64_t value = 0;
  bool overflow = false;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = static_cast<int>(text[i] - '0');
    if (value < (kMin + digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
  if (negative) return value;
  return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

inline int64_t Wtoi64(const std::wstring& text) {
  return ParseLeadingInt64(text.data(), text.size());
}

inline int32_t Wtoi(const std::wstring& text) {
  int64_t v = Wtoi64(text);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// atoi of a NUL-terminated narrow text (null reads as 0).
inline int32_t Atoi(const char* text) {
  if (text == nullptr) return 0;
  size_t length = 0;
  while (text[length] != '\0') ++length;
  int64_t v = ParseLeadingInt64(text, length);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace tev

#endif  // TEV_DB_TEXTNUMBERS_H_
