// Cost of the bus's wire codec for one round trip of a ScheduleRecording-like
// request (the work VelSatellite::Request adds to a raw libnats request
// besides the handler thread): encode the request, decode it, copy the
// parameters as an echo handler does, encode the reply, decode it.
// No goal of its own; it explains bench/bus_roundtrip's figure.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "support/VUtil.h"
#include "vel/WireCodec.h"

int main(int argc, char** argv) {
  const int runs = bench::Runs(argc, argv, 3000);
  // Between round trips a busy machine runs other work that evicts the
  // codec's code and data from the caches; --cold does the same by writing
  // over a buffer larger than the caches.
  bool cold = false;
  for (int i = 1; i < argc; ++i) cold = cold || std::string(argv[i]) == "--cold";
  std::vector<char> evict(cold ? 64u << 20 : 0);
  AutoVariant in;
  VUtil::CreateArray(&in, VT_VARIANT, 12);
  VUtil::PutElement(&in, 0, std::wstring(L"viewer"));
  VUtil::PutElement(&in, 1, std::wstring(L"BBC One"));
  VUtil::PutElement(&in, 2, std::wstring(L"channel-17"));
  VUtil::PutDateElement(&in, 3, 1796000000);
  VUtil::PutElement(&in, 4, static_cast<int32_t>(3600000));
  VUtil::PutElement(&in, 5, std::wstring(L"The News"));
  VUtil::PutElement(&in, 6, std::wstring(L"News"));
  VUtil::PutElement(&in, 7, std::wstring(L"Headlines from around the world, with weather."));
  VUtil::PutElement(&in, 8, std::wstring(L"high"));
  VUtil::PutElement(&in, 9, std::wstring(L""));
  VUtil::PutElement(&in, 10, std::wstring(L"Evening edition"));
  VUtil::PutElement(&in, 11, true);

  std::vector<double> encodeRequest, decodeRequest, encodeReply, decodeReply, total;
  std::string request, reply, error;
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    for (size_t k = 0; k < evict.size(); k += 64) evict[k] = static_cast<char>(evict[k] + i);
    const auto t0 = std::chrono::steady_clock::now();
    bool ok = vel::EncodeRequest(L"ScheduleRecording", in, &request, &error);
    const auto t1 = std::chrono::steady_clock::now();
    vel::WireRequest decoded;
    ok = ok && vel::DecodeRequest(request.data(), request.size(), &decoded, &error) == vel::WireFault::kNone;
    const auto t2 = std::chrono::steady_clock::now();
    AutoVariant out;
    VariantCopy(&out, &decoded.in);
    ok = ok && vel::EncodeReply(0, out, &reply, &error);
    const auto t3 = std::chrono::steady_clock::now();
    vel::WireReply answer;
    ok = ok && vel::DecodeReply(reply.data(), reply.size(), &answer, &error) == vel::WireFault::kNone;
    const auto t4 = std::chrono::steady_clock::now();
    if (!ok) {
      ++failed;
      continue;
    }
    encodeRequest.push_back(bench::Micros(t0, t1));
    decodeRequest.push_back(bench::Micros(t1, t2));
    encodeReply.push_back(bench::Micros(t2, t3));
    decodeReply.push_back(bench::Micros(t3, t4));
    total.push_back(bench::Micros(t0, t4));
  }
  std::printf("request %zu bytes, reply %zu bytes, %d runs (%d failed), %s caches\n", request.size(),
              reply.size(), runs, failed, cold ? "cold" : "warm");
  std::printf("encode request  median %6.2f us\n", bench::Median(encodeRequest));
  std::printf("decode request  median %6.2f us\n", bench::Median(decodeRequest));
  std::printf("copy + encode reply median %6.2f us\n", bench::Median(encodeReply));
  std::printf("decode reply    median %6.2f us\n", bench::Median(decodeReply));
  std::printf("one round trip  median %6.2f us\n", bench::Median(total));
  return failed == 0 ? 0 : 1;
}
