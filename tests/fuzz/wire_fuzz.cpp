// libFuzzer target: arbitrary bytes as a bus request and as a reply.
// Decoding refuses or accepts without crashing or leaking, and whatever
// decodes keeps its value through encode -> text -> decode (vel/WIRE.md):
// the second encoding equals the first, envelopes included.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Variant.h"
#include "vel/WireCodec.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// `in` decodes (or not); when it does, its encoding is a fixed point.
void RoundTrip(const nlohmann::json& in) {
  std::string error;
  VARIANT first;
  VariantInit(&first);
  if (vel::DecodeVariant(in, &first, &error)) {
    nlohmann::json encoded;
    Check(vel::EncodeVariant(first, &encoded, &error));
    VARIANT second;
    VariantInit(&second);
    Check(vel::DecodeVariant(nlohmann::json::parse(encoded.dump()), &second, &error));
    Check(second.vt == first.vt);
    nlohmann::json again;
    Check(vel::EncodeVariant(second, &again, &error));
    Check(again == encoded);
    VariantClear(&second);
  }
  VariantClear(&first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string error;
  vel::WireRequest request;
  if (vel::DecodeRequest(text, size, &request, &error)) {
    RoundTrip(request.in);
    const std::string sent = vel::EncodeRequest(request.method, request.in);
    vel::WireRequest back;
    Check(vel::DecodeRequest(sent.data(), sent.size(), &back, &error));
    Check(back.method == request.method);
    Check(back.in == request.in || back.in.dump() == request.in.dump());
  }
  vel::WireReply reply;
  if (vel::DecodeReply(text, size, &reply, &error)) {
    RoundTrip(reply.out);
    const std::string sent = vel::EncodeReply(reply.ret, reply.out);
    vel::WireReply back;
    Check(vel::DecodeReply(sent.data(), sent.size(), &back, &error));
    Check(back.ret == reply.ret);
  }
  return 0;
}
