// libFuzzer target: any bytes as a bus request, a reply and a bare value.
// Whatever decodes keeps its value through encode -> text -> decode: the
// second encoding equals the first, envelopes included.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Variant.h"
#include "vel/WireCodec.h"
#include "tests/fuzz/FuzzSupport.h"
#include "vel/WireWriter.h"

namespace {

using fuzz::Check;

void RoundTrip(const VARIANT& first) {
  std::string error, encoded, again;
  Check(vel::WriteValue(first, &encoded, &error));
  VARIANT second;
  VariantInit(&second);
  Check(vel::ReadWire(encoded.data(), encoded.size(), vel::WireShape::kValue, nullptr, &second,
                      &error) == vel::WireFault::kNone);
  Check(second.vt == first.vt);
  Check(vel::WriteValue(second, &again, &error));
  Check(again == encoded);
  VariantClear(&second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string error, sent, resent;
  vel::WireRequest request;
  if (vel::DecodeRequest(text, size, &request, &error) == vel::WireFault::kNone) {
    RoundTrip(request.in);
    Check(vel::EncodeRequest(request.method, request.in, &sent, &error));
    vel::WireRequest back;
    Check(vel::DecodeRequest(sent.data(), sent.size(), &back, &error) == vel::WireFault::kNone);
    Check(vel::EncodeRequest(back.method, back.in, &resent, &error));
    Check(resent == sent);
  }
  vel::WireReply reply;
  if (vel::DecodeReply(text, size, &reply, &error) == vel::WireFault::kNone) {
    RoundTrip(reply.out);
    Check(vel::EncodeReply(reply.ret, reply.out, &sent, &error));
    vel::WireReply back;
    Check(vel::DecodeReply(sent.data(), sent.size(), &back, &error) == vel::WireFault::kNone);
    Check(back.ret == reply.ret);
  }
  VARIANT value;
  VariantInit(&value);
  if (vel::ReadWire(text, size, vel::WireShape::kValue, nullptr, &value, &error) == vel::WireFault::kNone)
    RoundTrip(value);
  VariantClear(&value);
  return 0;
}
