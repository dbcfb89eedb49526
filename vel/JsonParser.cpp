#include "vel/JsonParser.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <vector>

namespace vel {

namespace {

// Number conversions as the C library does them, in the "C" locale
// whatever the process has set.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

class Parser {
 public:
  Parser(const char* data, size_t length, JsonHandler* handler)
      : p_(data), begin_(data), end_(data + length), handler_(handler) {
    text_.reserve(64);
  }

  JsonResult Run(size_t* errorAt) {
    const JsonResult result = Parse();
    if (result == JsonResult::kSyntax) *errorAt = static_cast<size_t>(p_ - begin_);
    return result;
  }

 private:
  JsonResult Parse() {
    if (end_ - p_ >= 3 && p_[0] == '\xEF' && p_[1] == '\xBB' && p_[2] == '\xBF') p_ += 3;
    std::vector<bool> objects;  // open containers, innermost last: true for an object
    for (;;) {
      // A value.
      SkipSpace();
      if (p_ == end_) return JsonResult::kSyntax;
      switch (*p_) {
        case '{':
          ++p_;
          if (!handler_->StartObject()) return JsonResult::kStopped;
          SkipSpace();
          if (p_ != end_ && *p_ == '}') {
            ++p_;
            if (!handler_->EndObject()) return JsonResult::kStopped;
            break;
          }
          objects.push_back(true);
          if (JsonResult r = KeyAndColon(); r != JsonResult::kOk) return r;
          continue;
        case '[':
          ++p_;
          if (!handler_->StartArray()) return JsonResult::kStopped;
          SkipSpace();
          if (p_ != end_ && *p_ == ']') {
            ++p_;
            if (!handler_->EndArray()) return JsonResult::kStopped;
            break;
          }
          objects.push_back(false);
          continue;
        case '"':
          if (!ReadString()) return JsonResult::kSyntax;
          if (!handler_->String(text_)) return JsonResult::kStopped;
          break;
        case 't':
          if (!Literal("true")) return JsonResult::kSyntax;
          if (!handler_->Boolean(true)) return JsonResult::kStopped;
          break;
        case 'f':
          if (!Literal("false")) return JsonResult::kSyntax;
          if (!handler_->Boolean(false)) return JsonResult::kStopped;
          break;
        case 'n':
          if (!Literal("null")) return JsonResult::kSyntax;
          if (!handler_->Null()) return JsonResult::kStopped;
          break;
        default:
          if (JsonResult r = Number(); r != JsonResult::kOk) return r;
          break;
      }
      // After a value: close containers, or go on to the next element.
      for (;;) {
        SkipSpace();
        // As in the JSON library, a NUL byte ends the text (a C sender may
        // count its terminator).
        if (objects.empty()) return p_ == end_ || *p_ == '\0' ? JsonResult::kOk : JsonResult::kSyntax;
        if (p_ == end_) return JsonResult::kSyntax;
        const bool object = objects.back();
        if (*p_ == ',') {
          ++p_;
          if (object)
            if (JsonResult r = KeyAndColon(); r != JsonResult::kOk) return r;
          break;
        }
        if (*p_ != (object ? '}' : ']')) return JsonResult::kSyntax;
        ++p_;
        objects.pop_back();
        if (!(object ? handler_->EndObject() : handler_->EndArray())) return JsonResult::kStopped;
      }
    }
  }

  void SkipSpace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  JsonResult KeyAndColon() {
    SkipSpace();
    if (p_ == end_ || *p_ != '"' || !ReadString()) return JsonResult::kSyntax;
    if (!handler_->Key(text_)) return JsonResult::kStopped;
    SkipSpace();
    if (p_ == end_ || *p_ != ':') return JsonResult::kSyntax;
    ++p_;
    return JsonResult::kOk;
  }

  bool Literal(const char* word) {
    for (; *word; ++word, ++p_)
      if (p_ == end_ || *p_ != *word) return false;
    return true;
  }

  static bool Between(const char* p, unsigned char lo, unsigned char hi) {
    const unsigned char c = static_cast<unsigned char>(*p);
    return c >= lo && c <= hi;
  }

  // Length of the well-formed UTF-8 sequence starting at p_ (a byte of 0x80
  // or above), 0 when there is none (Unicode's table of well-formed byte
  // sequences: no overlong forms, no surrogates, nothing above U+10FFFF).
  size_t Utf8Length() const {
    const size_t left = static_cast<size_t>(end_ - p_);
    const unsigned char b = static_cast<unsigned char>(*p_);
    if (b >= 0xC2 && b <= 0xDF) return left >= 2 && Between(p_ + 1, 0x80, 0xBF) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
      const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
      return left >= 3 && Between(p_ + 1, lo, hi) && Between(p_ + 2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
      const unsigned char lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
      return left >= 4 && Between(p_ + 1, lo, hi) && Between(p_ + 2, 0x80, 0xBF) &&
                     Between(p_ + 3, 0x80, 0xBF)
                 ? 4
                 : 0;
    }
    return 0;
  }

  bool Hex4(uint32_t* value) {
    if (end_ - p_ < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i, ++p_) {
      const char c = *p_;
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    *value = v;
    return true;
  }

  void AppendUtf8(uint32_t c) {
    if (c < 0x80) {
      text_.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      text_.push_back(static_cast<char>(0xC0 | (c >> 6)));
      text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      text_.push_back(static_cast<char>(0xE0 | (c >> 12)));
      text_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      text_.push_back(static_cast<char>(0xF0 | (c >> 18)));
      text_.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      text_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      text_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }

  // "\uXXXX" after the backslash and 'u'; a surrogate must come as a pair.
  bool Escape() {
    uint32_t c = 0;
    if (!Hex4(&c)) return false;
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      uint32_t low = 0;
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
      p_ += 2;
      if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(c);
    return true;
  }

  // The string starting at the quote at p_, into text_.
  bool ReadString() {
    text_.clear();
    ++p_;
    const char* run = p_;  // start of the bytes not yet copied
    for (;;) {
      if (p_ == end_) return false;
      const unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        text_.append(run, static_cast<size_t>(p_ - run));
        ++p_;
        return true;
      }
      if (c < 0x20) return false;
      if (c < 0x80 && c != '\\') {
        ++p_;
        continue;
      }
      if (c >= 0x80) {
        const size_t n = Utf8Length();
        if (n == 0) return false;
        p_ += n;
        continue;
      }
      text_.append(run, static_cast<size_t>(p_ - run));
      if (++p_ == end_) return false;
      const char e = *p_++;
      switch (e) {
        case '"': text_.push_back('"'); break;
        case '\\': text_.push_back('\\'); break;
        case '/': text_.push_back('/'); break;
        case 'b': text_.push_back('\b'); break;
        case 'f': text_.push_back('\f'); break;
        case 'n': text_.push_back('\n'); break;
        case 'r': text_.push_back('\r'); break;
        case 't': text_.push_back('\t'); break;
        case 'u':
          if (!Escape()) return false;
          break;
        default: return false;
      }
      run = p_;
    }
  }

  bool Digits() {
    const char* start = p_;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ != start;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? ; an integer that does not
  // fit 64 bits is read as a real, and a real must be finite.
  JsonResult Number() {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_) return JsonResult::kSyntax;
    if (*p_ == '0') ++p_;
    else if (!Digits()) return JsonResult::kSyntax;
    bool real = false;
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (!Digits()) return JsonResult::kSyntax;
      real = true;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (!Digits()) return JsonResult::kSyntax;
      real = true;
    }
    number_.assign(start, static_cast<size_t>(p_ - start));
    char* stop = nullptr;
    // The locale first: making it may set errno, which must be left to the
    // conversion alone (an integer would be read as a real otherwise).
    const locale_t c = CLocale();
    if (!real) {
      errno = 0;
      if (negative) {
        const long long v = strtoll_l(number_.c_str(), &stop, 10, c);
        if (errno == 0) return handler_->Integer(v) ? JsonResult::kOk : JsonResult::kStopped;
      } else {
        const unsigned long long v = strtoull_l(number_.c_str(), &stop, 10, c);
        if (errno == 0) return handler_->Unsigned(v) ? JsonResult::kOk : JsonResult::kStopped;
      }
    }
    const double d = strtod_l(number_.c_str(), &stop, c);
    if (!std::isfinite(d)) {
      p_ = start;
      return JsonResult::kSyntax;
    }
    return handler_->Real(d) ? JsonResult::kOk : JsonResult::kStopped;
  }

  const char* p_;
  const char* const begin_;
  const char* const end_;
  JsonHandler* const handler_;
  std::string text_;    // the last string read
  std::string number_;  // the last number's text
};

}  // namespace

JsonResult ParseJson(const char* data, size_t length, JsonHandler* handler, size_t* errorAt) {
  return Parser(data, length, handler).Run(errorAt);
}

}  // namespace vel
