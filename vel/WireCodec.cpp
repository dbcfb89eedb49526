#include "vel/WireCodec.h"

#include "vel/WireWriter.h"

using nlohmann::json;

namespace vel {

// Keys are written in sorted order, as a JSON document would dump them.
bool EncodeRequest(const std::wstring& method, const VARIANT& in, std::string* data, std::string* error) {
  data->reserve(256);
  data->assign("{\"in\":");
  if (!WriteValue(in, data, error)) return false;
  data->append(",\"method\":");
  WriteText(method.data(), method.size(), data);
  data->push_back('}');
  return true;
}

bool EncodeReply(int ret, const VARIANT& out, std::string* data, std::string* error) {
  data->reserve(256);
  data->assign("{\"out\":");
  if (!WriteValue(out, data, error)) return false;
  data->append(",\"ret\":");
  data->append(std::to_string(ret));
  data->push_back('}');
  return true;
}

std::string EncodeMessageReply(int ret, const std::string& message) {
  std::string data = "{\"out\":";
  WriteUtf8(message, &data);
  data.append(",\"ret\":");
  data.append(std::to_string(ret));
  data.push_back('}');
  return data;
}

WireFault DecodeRequest(const char* data, size_t length, WireRequest* request, std::string* error) {
  WireEnvelope envelope;
  const WireFault fault = ReadWire(data, length, WireShape::kRequest, &envelope, &request->in, error);
  request->method = std::move(envelope.method);
  return fault;
}

WireFault DecodeReply(const char* data, size_t length, WireReply* reply, std::string* error) {
  WireEnvelope envelope;
  const WireFault fault = ReadWire(data, length, WireShape::kReply, &envelope, &reply->out, error);
  reply->ret = envelope.ret;
  return fault;
}

bool EncodeVariant(const VARIANT& value, json* out, std::string* error) {
  std::string text;
  if (!WriteValue(value, &text, error)) return false;
  *out = json::parse(text);
  return true;
}

bool DecodeVariant(const json& in, VARIANT* out, std::string* error) {
  const std::string text = in.dump(-1, ' ', false, json::error_handler_t::replace);
  return ReadWire(text.data(), text.size(), WireShape::kValue, nullptr, out, error) == WireFault::kNone;
}

bool JsonDepthWithin(const char* data, size_t length, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < length; ++i) {
    const char c = data[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

}  // namespace vel
