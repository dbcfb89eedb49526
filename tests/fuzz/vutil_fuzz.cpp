// libFuzzer target: the VUtil parameter readers on any value a client can
// send. Each returns a value or throws VelException, and reads inside the array.
#include <string>
#include <vector>

#include "support/VUtil.h"
#include "support/VelException.h"
#include "tests/fuzz/FuzzSupport.h"
#include "vel/WireCodec.h"

namespace {

template <typename F>
void Try(F read) {
  try {
    read();
  } catch (const VelException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  if (!vel::JsonDepthWithin(text, size, vel::kWireJsonDepth)) return 0;
  const nlohmann::json json = nlohmann::json::parse(text, text + size, nullptr, false);
  if (json.is_discarded()) return 0;
  AutoVariant in;
  std::string error;
  if (!vel::DecodeVariant(json, &in, &error)) return 0;
  const VARIANT& v = in.get();

  Try([&] { VUtil::GetScalarString(v); });
  Try([&] { VUtil::GetScalarLong(v); });
  Try([&] { VUtil::GetSingleOutParamString(v); });
  long length = -1;
  Try([&] { length = VUtil::GetArrayLength(v); });
  Try([&] { VUtil::GetArrayLengthEmpty(v); });
  const long last = length > 0 ? length : 0;
  for (long index : {-1L, 0L, 1L, 2L, last - 1, last, last + 1, 0x7fffffffL}) {
    Try([&] { VUtil::GetStringElement(v, index); });
    Try([&] { VUtil::GetLongElement(v, index); });
    Try([&] { VUtil::GetLongOrEmptyElement(v, index); });
    Try([&] { VUtil::GetBoolLikeElement(v, index); });
    Try([&] { VUtil::GetDateElement(v, index); });
    Try([&] { VUtil::GetDoubleElement(v, index); });
    Try([&] { VUtil::GetShortElement(v, index); });
    Try([&] {
      std::vector<unsigned char> bytes;
      VUtil::GetByteArrayElement(v, index, &bytes);
    });
    Try([&] {
      std::wstring name, value;
      VUtil::GetPair(v, index, &name, &value);
    });
    Try([&] {
      AutoVariant element;
      VUtil::GetElement(v, index, &element);
    });
  }
  Try([&] {
    std::wstring value;
    VUtil::FindPairNoCase(v, L"title", &value);
  });
  Try([&] { VUtil::DumpValue(v, 0); });
  return 0;
}
