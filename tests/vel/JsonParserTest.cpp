// The bus's own JSON parser against the JSON library: the same texts are
// accepted and they read as the same values.
#include "vel/JsonParser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// Builds a document from the parser's events.
class Builder : public vel::JsonHandler {
 public:
  bool Null() override { return Add(json(nullptr)); }
  bool Boolean(bool b) override { return Add(json(b)); }
  bool Integer(int64_t i) override { return Add(json(i)); }
  bool Unsigned(uint64_t u) override { return Add(json(u)); }
  bool Real(double d) override { return Add(json(d)); }
  bool String(std::string& s) override { return Add(json(s)); }
  bool Key(std::string& k) override {
    key_ = k;
    return true;
  }
  bool StartObject() override { return Open(json::object()); }
  bool StartArray() override { return Open(json::array()); }
  bool EndObject() override { return Close(); }
  bool EndArray() override { return Close(); }

  json root;

 private:
  bool Add(json value) {
    if (open_.empty()) {
      root = std::move(value);
    } else if (open_.back().is_array()) {
      open_.back().push_back(std::move(value));
    } else {
      open_.back()[key_] = std::move(value);
    }
    return true;
  }
  bool Open(json container) {
    open_.push_back(std::move(container));
    keys_.push_back(key_);
    return true;
  }
  bool Close() {
    json done = std::move(open_.back());
    open_.pop_back();
    key_ = keys_.back();
    keys_.pop_back();
    return Add(std::move(done));
  }
  std::vector<json> open_;
  std::vector<std::string> keys_;
  std::string key_;
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
