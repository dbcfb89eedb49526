// A small strict JSON parser (RFC 8259) that reports what it reads to a
// handler as it goes, for the bus's decoder: one pass over the bytes, no
// document, little code to keep in the caches of a busy machine. It accepts
// exactly the texts the JSON library accepts (a leading UTF-8 byte-order
// mark included) and reads numbers as it does. Iterative: any nesting is
// read without recursion; the handler decides how deep is too deep.
#ifndef TEV_VEL_JSONPARSER_H_
#define TEV_VEL_JSONPARSER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vel {

// Each call returns false to stop the parse.
class JsonHandler {
 public:
  virtual ~JsonHandler() = default;
  virtual bool Null() = 0;
  virtual bool Boolean(bool value) = 0;
  virtual bool Integer(int64_t value) = 0;    // a negative integer that fits 64 bits
  virtual bool Unsigned(uint64_t value) = 0;  // a non-negative integer that fits 64 bits
  virtual bool Real(double value) = 0;        // any other number (always finite)
  // The text is UTF-8 with escapes resolved; the handler may take it.
  virtual bool String(std::string& text) = 0;
  virtual bool Key(std::string& text) = 0;
  virtual bool StartObject() = 0;
  virtual bool EndObject() = 0;
  virtual bool StartArray() = 0;
  virtual bool EndArray() = 0;
};

enum class JsonResult { kOk, kStopped, kSyntax };

// Parses the one JSON text in data[0, length). kSyntax sets *errorAt to the
// byte offset where the text stops being JSON.
JsonResult ParseJson(const char* data, size_t length, JsonHandler* handler, size_t* errorAt);

}  // namespace vel

#endif  // TEV_VEL_JSONPARSER_H_
