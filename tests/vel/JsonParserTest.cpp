// The bus's own JSON parser against the JSON library: the same texts are
// accepted and they read as the same values.
#include "vel/JsonParser.h"

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// Builds a document from the parser's events with the JSON library's own builder.
class Builder : public vel::JsonHandler {
 public:
  bool Null() override { return dom_.null(); }
  bool Boolean(bool b) override { return dom_.boolean(b); }
  bool Integer(int64_t i) override { return dom_.number_integer(i); }
  bool Unsigned(uint64_t u) override { return dom_.number_unsigned(u); }
  bool Real(double d) override { return dom_.number_float(d, ""); }
  bool String(std::string& s) override { return dom_.string(s); }
  bool Key(std::string& k) override { return dom_.key(k); }
  bool StartObject() override { return dom_.start_object(static_cast<size_t>(-1)); }
  bool StartArray() override { return dom_.start_array(static_cast<size_t>(-1)); }
  bool EndObject() override { return dom_.end_object(); }
  bool EndArray() override { return dom_.end_array(); }

  json root;

 private:
  nlohmann::detail::json_sax_dom_parser<json> dom_{root, false};
};

// Accepts `text` exactly when the JSON library does, with the same value.
void ExpectAsTheLibrary(const std::string& text) {
  Builder builder;
  size_t at = 0;
  const bool ours = vel::ParseJson(text.data(), text.size(), &builder, &at) == vel::JsonResult::kOk;
  const bool theirs = json::accept(text);
  EXPECT_EQ(ours, theirs) << "\"" << text << "\" (stopped at " << at << ")";
  if (ours && theirs) {
    EXPECT_EQ(builder.root.dump(), json::parse(text).dump()) << text;
  }
}

TEST(JsonParser, AcceptsAndRefusesWhatTheJsonLibraryDoes) {
  const std::string texts[] = {
      // structure
      "", " ", "null", " [ ] ", "{}", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{\"a\"}", "{1:2}",
      "[1}", "{]", "[[[]]]", "[[[]]", "[]]", "1 2", "[1 2]", "{\"a\":1 \"b\":2}", "\"a\":1",
      "{\"a\":{\"b\":[1,{\"c\":null}]},\"d\":[]}", "{\"a\":1,\"a\":2}",
      // literals and space
      "true", "false", "nul", "truex", "True", "NaN", "Infinity", "\t\r\n [true]\n",
      "\f1", "\v1", std::string("[1]\0", 4), std::string("[1] \0x", 6), std::string("[1\0]", 4),
      std::string("\0", 1), std::string("\"a\0\"", 4),
      // byte-order mark
      "\xEF\xBB\xBF[1]", "\xEF\xBB[1]", "\xEF\xBB\xBF", " \xEF\xBB\xBF[1]",
      // numbers
      "0", "-0", "-0.0", "01", "-01", "1.", ".5", "1e", "1e+", "1E5", "1e-5", "+1", "-", "--1",
      "1.5e308", "1e309", "-1e400", "1e-400", "9223372036854775807", "9223372036854775808",
      "-9223372036854775808", "-9223372036854775809", "18446744073709551615",
      "18446744073709551616", "123456789012345678901234567890", "0.1", "2.5e-7", "1e+2", "0e0",
      "0x10", "1_0",
      // strings
      "\"\"", "\"a\\\"b\\\\c\\/d\\be\\ff\\ng\\rh\\ti\"", "\"\\x\"", "\"\\u00e9\"", "\"\\u00E9\"",
      "\"\\u12\"", "\"\\u12g4\"", "\"\\ud83d\\ude00\"", "\"\\ud83d\"", "\"\\ude00\"",
      "\"\\ud83d\\u0041\"", "\"\\ud83dx\"", "\"\\u0000\"", "\"a\tb\"", "\"\x7f\"", "\"unterminated",
      "\"\xC3\xA9\"", "\"\xC0\x80\"", "\"\xC2\"", "\"\xE0\x80\x80\"", "\"\xE0\xA0\x80\"",
      "\"\xED\xA0\x80\"", "\"\xED\x9F\xBF\"", "\"\xF0\x9F\x98\x80\"", "\"\xF0\x8F\xBF\xBF\"",
      "\"\xF4\x8F\xBF\xBF\"", "\"\xF4\x90\x80\x80\"", "\"\xF5\x80\x80\x80\"", "\"\xFF\"",
      "\"\xE2\x82\"", "\"\xE2\x82\xAC\"", "\"\x80\"",
  };
  for (const std::string& text : texts) ExpectAsTheLibrary(text);
}

}  // namespace
