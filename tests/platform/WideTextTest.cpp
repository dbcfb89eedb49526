#include "platform/WideText.h"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <string>

namespace {

std::wstring W(std::initializer_list<uint32_t> codePoints) {
  std::wstring text;
  for (uint32_t c : codePoints) text.push_back(static_cast<wchar_t>(c));
  return text;
}

// Any Unicode scalar value, with the interesting edges drawn often.
rc::Gen<wchar_t> ScalarValue() {
  return rc::gen::oneOf(
      rc::gen::map(rc::gen::inRange<uint32_t>(0, 0x110000 - 0x800),
                   [](uint32_t c) { return static_cast<wchar_t>(c < 0xD800 ? c : c + 0x800); }),
      rc::gen::element<wchar_t>(0x0, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF,
                                0x10000, 0x1F600, 0x10FFFF));
}

rc::Gen<std::wstring> ScalarText() { return rc::gen::container<std::wstring>(ScalarValue()); }

// Bytes that hit lead, continuation and boundary values often.
rc::Gen<std::string> Bytes() {
  return rc::gen::container<std::string>(rc::gen::oneOf(
      rc::gen::map(rc::gen::inRange(0, 256), [](int b) { return static_cast<char>(b); }),
      rc::gen::element<char>('\x80', '\x9F', '\xA0', '\xBF', '\xC2', '\xDF', '\xE0', '\xED',
                             '\xEF', '\xF0', '\xF4', 'a')));
}

}  // namespace

TEST(WideText, EncodesUnitByUnit) {
  const struct {
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {L"", ""},
      {L"Tev 1", "Tev 1"},
      {W({0x00E9}), "\xC3\xA9"},
      {W({0x07FF}), "\xDF\xBF"},
      {W({0x0800}), "\xE0\xA0\x80"},
      {W({0xFFFF}), "\xEF\xBF\xBF"},
      {W({0x10000}), "\xED\xA0\x80\xED\xB0\x80"},
      {W({0x10FFFF}), "\xED\xAF\xBF\xED\xBF\xBF"},
      {W({'a', 0, 'b'}), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tev::WideToUtf8(c.text), c.bytes);
    EXPECT_EQ(tev::Utf8ToWide(c.bytes), c.text);
  }
}

TEST(WideText, DecodingStopsAtFirstForeignSequence) {
  const struct {
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {"abc\xF0\x9F\x98\x80" "def", L"abc"},  // four-byte form
      {"x\xC1\x81y", L"x"},                   // overlong two-byte lead
      {"x\xC0\x80", L"x"},
      {"x\xE0\x9F\xBFy", L"x"},               // overlong three-byte form
      {"x\xE0\xA0\x80y", W({'x', 0x800, 'y'})},
      {"ok\xC3", L"ok"},                      // truncated
      {"ok\xE2\x82", L"ok"},
      {"\x80" "abc", L""},                    // stray continuation
      {"a\xC3(b", L"a"},                      // bad continuation
      {"a\xFF" "b", L"a"},
      // Surrogates are accepted as the units they encode; lone ones stay.
      {"\xED\xA0\xBD", W({0xD83D})},
      {"\xED\xB8\x80\xED\xA0\xBD", W({0xDE00, 0xD83D})},
  };
  for (const auto& c : cases) EXPECT_EQ(tev::Utf8ToWide(c.bytes), c.text) << c.bytes;
}

TEST(WideText, Utf16UnitsJoinAndSplit) {
  EXPECT_EQ(tev::ToUtf16(W({'A', 0x1F600, 0xE9})), (std::u16string{u'A', 0xD83D, 0xDE00, 0xE9}));
  // Unpaired halves are kept as they are, in either order.
  EXPECT_EQ(tev::FromUtf16(std::u16string{0xDE00, 0xD83D, u'x'}), W({0xDE00, 0xD83D, 'x'}));
  EXPECT_EQ(tev::FromUtf16(std::u16string{u'x', 0xD83D}), W({'x', 0xD83D}));
  // A value beyond Unicode has no UTF-16 form.
  EXPECT_EQ(tev::ToUtf16(W({0x110000})), std::u16string{0xFFFD});
}

TEST(WideText, StandardUtf8ReplacesWhatIsInvalid) {
  EXPECT_EQ(tev::ToStdUtf8(W({0x1F600})), "\xF0\x9F\x98\x80");
  EXPECT_EQ(tev::ToStdUtf8(W({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");  // an unjoined pair
  EXPECT_EQ(tev::ToStdUtf8(W({'a', 0xD83D, 'b'})), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(tev::ToStdUtf8(W({0xDE00})), "\xEF\xBF\xBD");
  EXPECT_EQ(tev::ToStdUtf8(W({0x110000})), "\xEF\xBF\xBD");

  const std::wstring R = W({0xFFFD});
  const struct {
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {"caf\xC3\xA9", W({'c', 'a', 'f', 0xE9})},
      {"\xF0\x9F\x98\x80", W({0x1F600})},
      {"\xF4\x8F\xBF\xBF", W({0x10FFFF})},
      {"a\xFF" "b", L"a" + R + L"b"},
      {"\xC0\xAF", R + R},                  // overlong: each byte is ill-formed
      {"\xE2\x82", R},                      // truncated: one replacement
      {"\xE2\x82" "A", R + L"A"},
      {"\xED\xA0\x80", R + R + R},          // encoded surrogate
      {"\xF4\x90\x80\x80", R + R + R + R},  // beyond U+10FFFF
      {"\xF0\x9F\x98", R},
      {"\x80\x80", R + R},
  };
  for (const auto& c : cases) EXPECT_EQ(tev::FromStdUtf8(c.bytes), c.text) << c.bytes;
}

RC_GTEST_PROP(WideText, EveryCharacterRoundTrips, ()) {
  const std::wstring text = *ScalarText();
  const std::string bytes = tev::WideToUtf8(text);
  RC_ASSERT(tev::Utf8ToWide(bytes) == text);
  RC_ASSERT(tev::FromUtf16(tev::ToUtf16(text)) == text);
  RC_ASSERT(tev::FromStdUtf8(tev::ToStdUtf8(text)) == text);
  size_t expected = 0;
  for (wchar_t c : text) expected += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 6;
  RC_ASSERT(bytes.size() == expected);
}

RC_GTEST_PROP(WideText, ArbitraryBytesNeverBreakDecoding, ()) {
  const std::string bytes = *Bytes();
  // The product's decoder keeps a prefix of its input.
  const std::string kept = tev::WideToUtf8(tev::Utf8ToWide(bytes));
  RC_ASSERT(bytes.compare(0, kept.size(), kept) == 0);
  // The standard decoder gives text that survives another round.
  const std::wstring text = tev::FromStdUtf8(bytes);
  RC_ASSERT(tev::FromStdUtf8(tev::ToStdUtf8(text)) == text);
  RC_ASSERT(text.size() <= bytes.size());
}
