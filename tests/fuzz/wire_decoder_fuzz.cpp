// libFuzzer target: arbitrary bytes as a bus request and as a reply. Decoding
// must refuse or accept without crashing or leaking; whatever decodes must
// encode again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Variant.h"
#include "vel/WireCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string error;
  vel::WireRequest request;
  if (vel::DecodeRequest(text, size, &request, &error)) {
    VARIANT v;
    VariantInit(&v);
    if (vel::DecodeVariant(request.in, &v, &error)) {
      nlohmann::json back;
      if (!vel::EncodeVariant(v, &back, &error)) __builtin_trap();
    }
    VariantClear(&v);
  }
  vel::WireReply reply;
  if (vel::DecodeReply(text, size, &reply, &error)) {
    VARIANT v;
    VariantInit(&v);
    vel::DecodeVariant(reply.out, &v, &error);
    VariantClear(&v);
  }
  return 0;
}
