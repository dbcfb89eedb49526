// JSON encoding of VARIANTs and of the request and reply envelopes (the
// format is described in vel/WIRE.md). Encoding then decoding gives back an
// equal VARIANT: types, typed arrays, lower bounds, dates, empty vs null.
// Decoding never throws: malformed input gives false and a message.
#ifndef TEV_VEL_WIRECODEC_H_
#define TEV_VEL_WIRECODEC_H_

#include <string>

#include <nlohmann/json.hpp>

#include "platform/Variant.h"

namespace vel {

// False (with *error) for values the wire cannot carry: multi-dimensional
// arrays and the COM-object and currency types.
bool EncodeVariant(const VARIANT& value, nlohmann::json* out, std::string* error);
// *out must be initialised; it is cleared first and left VT_EMPTY on failure.
bool DecodeVariant(const nlohmann::json& in, VARIANT* out, std::string* error);

struct WireRequest {
  std::wstring method;
  nlohmann::json in;
};
struct WireReply {
  int ret = 0;
  nlohmann::json out;
};

std::string EncodeRequest(const std::wstring& method, const nlohmann::json& in);
bool DecodeRequest(const char* data, size_t length, WireRequest* request, std::string* error);
std::string EncodeReply(int ret, const nlohmann::json& out);
bool DecodeReply(const char* data, size_t length, WireReply* reply, std::string* error);

// JSON nesting a request or reply may have: a typed array takes two levels
// (object and list) per value level, the envelope one more. Deeper texts are
// refused before a document is built: copying or destroying one recurses
// once per level and would exhaust the stack of the delivering thread.
constexpr int kWireJsonDepth = 132;

// False when brackets and braces outside strings nest deeper than `limit`
// anywhere in the text (a cheap scan that builds nothing). Decoding applies
// it with a limit that every encodable value fits.
bool JsonDepthWithin(const char* data, size_t length, int limit);

// "I4", "ARRAY|BSTR", ...; empty for a type without a wire name.
std::string TypeName(VARTYPE vt);
// False when the name is unknown.
bool TypeFromName(const std::string& name, VARTYPE* vt);

}  // namespace vel

#endif  // TEV_VEL_WIRECODEC_H_
