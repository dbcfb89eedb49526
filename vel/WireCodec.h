// The bus's messages: request and reply envelopes around VARIANT values
// (the format is described in vel/WIRE.md). Encoding then decoding gives
// back an equal VARIANT: types, typed arrays, lower bounds, dates, empty vs
// null. Decoding never throws: malformed input gives a fault and a message.
#ifndef TEV_VEL_WIRECODEC_H_
#define TEV_VEL_WIRECODEC_H_

#include <string>

#include <nlohmann/json.hpp>

#include "platform/Variant.h"
#include "vel/WireReader.h"
#include "vel/WireTypes.h"

namespace vel {

// A decoded request; owns its value.
struct WireRequest {
  WireRequest() { VariantInit(&in); }
  ~WireRequest() { VariantClear(&in); }
  WireRequest(const WireRequest&) = delete;
  WireRequest& operator=(const WireRequest&) = delete;
  std::wstring method;
  VARIANT in;
};

// A decoded reply; owns its value.
struct WireReply {
  WireReply() { VariantInit(&out); }
  ~WireReply() { VariantClear(&out); }
  WireReply(const WireReply&) = delete;
  WireReply& operator=(const WireReply&) = delete;
  int ret = 0;
  VARIANT out;
};

// {"in": <value>, "method": "..."} into *data. False (with *error) when the
// value cannot be sent (see WriteValue in vel/WireWriter.h).
bool EncodeRequest(const std::wstring& method, const VARIANT& in, std::string* data, std::string* error);
// {"out": <value>, "ret": n} into *data; false as EncodeRequest.
bool EncodeReply(int ret, const VARIANT& out, std::string* data, std::string* error);
// A reply whose "out" is the text `message` (UTF-8; ill-formed bytes are
// replaced), for failures.
std::string EncodeMessageReply(int ret, const std::string& message);

// kText when the text is no request (or reply) at all, kValue when only its
// value is wrong; *error says why.
WireFault DecodeRequest(const char* data, size_t length, WireRequest* request, std::string* error);
WireFault DecodeReply(const char* data, size_t length, WireReply* reply, std::string* error);

// The same encoding for a value that people read and write (velctl):
// *out must be initialised; it is cleared first and left VT_EMPTY on failure.
bool EncodeVariant(const VARIANT& value, nlohmann::json* out, std::string* error);
bool DecodeVariant(const nlohmann::json& in, VARIANT* out, std::string* error);

// False when brackets and braces outside strings nest deeper than `limit`
// anywhere in the text (a cheap scan that builds nothing), for tools that
// must build a document of a text from outside.
bool JsonDepthWithin(const char* data, size_t length, int limit);

}  // namespace vel

#endif  // TEV_VEL_WIRECODEC_H_
