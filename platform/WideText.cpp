#include "platform/WideText.h"

#include <cstdint>

namespace tev {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

char32_t Join(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::u16string ToUtf16(const std::wstring& text) {
  std::u16string units;
  units.reserve(text.size());
  for (wchar_t wc : text) {
    char32_t c = static_cast<char32_t>(static_cast<uint32_t>(wc));
    if (c < 0x10000) {
      units.push_back(static_cast<char16_t>(c));
    } else if (c <= 0x10FFFF) {
      c -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      // Not a Unicode scalar value: nothing in UTF-16 can carry it.
      units.push_back(static_cast<char16_t>(kReplacement));
    }
  }
  return units;
}

std::wstring FromUtf16(const std::u16string& units) {
  std::wstring text;
  text.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      c = Join(c, units[i + 1]);
      ++i;
    }
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

std::string WideToUtf8(const std::wstring& text) {
  // Nearly every text (statements, keys, paths) is ASCII: one pass then.
  std::string bytes(text.size(), '\0');
  size_t ascii = 0;
  while (ascii < text.size() && text[ascii] >= 0 && text[ascii] < 0x80) {
    bytes[ascii] = static_cast<char>(text[ascii]);
    ++ascii;
  }
  if (ascii == text.size()) return bytes;
  bytes.clear();
  bytes.reserve(text.size() * 3);
  for (char16_t unit : ToUtf16(text)) AppendUtf8(&bytes, unit);
  return bytes;
}

std::wstring Utf8ToWide(const std::string& bytes) {
  std::u16string units;
  units.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      units.push_back(b0);
      i += 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      if (i + 1 >= n) break;
      const unsigned char b1 = static_cast<unsigned char>(bytes[i + 1]);
      if (!IsContinuation(b1)) break;
      units.push_back(static_cast<char16_t>(((b0 & 0x1F) << 6) | (b1 & 0x3F)));
      i += 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      if (i + 2 >= n) break;
      const unsigned char b1 = static_cast<unsigned char>(bytes[i + 1]);
      const unsigned char b2 = static_cast<unsigned char>(bytes[i + 2]);
      if (!IsContinuation(b1) || !IsContinuation(b2)) break;
      if (b0 == 0xE0 && b1 < 0xA0) break;  // overlong form
      units.push_back(
          static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F)));
      i += 3;
    } else {
      break;  // stray continuation, overlong lead or four-byte form: drop the rest
    }
  }
  return FromUtf16(units);
}

std::string ToStdUtf8(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(static_cast<uint32_t>(text[i]));
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char32_t>(static_cast<uint32_t>(text[i + 1])))) {
      // A pair that was not joined (e.g. built unit by unit) still means one character.
      c = Join(c, static_cast<char32_t>(static_cast<uint32_t>(text[i + 1])));
      ++i;
    } else if (IsSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
    }
    AppendUtf8(&bytes, c);
  }
  return bytes;
}

std::wstring FromStdUtf8(const std::string& bytes) {
  // Each maximal ill-formed subsequence becomes one U+FFFD (Unicode's
  // recommended practice), so bad input never stops the decoding.
  std::wstring text;
  text.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      text.push_back(static_cast<wchar_t>(b0));
      ++i;
      continue;
    }
    int length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t c = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      c = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      c = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      text.push_back(static_cast<wchar_t>(kReplacement));
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n) {
        ok = false;
        break;
      }
      const unsigned char b = static_cast<unsigned char>(bytes[j]);
      const unsigned char min = (k == 1) ? lo : 0x80;
      const unsigned char max = (k == 1) ? hi : 0xBF;
      if (b < min || b > max) {
        ok = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (ok) {
      text.push_back(static_cast<wchar_t>(c));
    } else {
      text.push_back(static_cast<wchar_t>(kReplacement));
    }
    i = j;
  }
  return text;
}

}  // namespace tev
