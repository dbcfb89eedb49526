// Request/reply cost of the bus library against raw libnats on one loopback
// nats-server, for a 12-element parameter array: after a warm-up of both,
// 2000 pairs of one raw round trip and one VelSatellite::Request, taken in
// turn so that both see the same load on a shared machine. Goal: the
// median of the per-pair ratios (bus / raw) at most 1.2x.
#include <nats/nats.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace {

const int kCalls = 2000;
const int kWarmUp = 200;

class Echo : public VelSatellite {
 public:
  void DefineServices() override { AddService(L"Echo", L"Echo", new Copy); }

 private:
  struct Copy : VelSatelliteDelegateGeneric {
    int invoke(const std::wstring&, const VARIANT& in, VARIANT* out) override {
      VariantCopy(out, &in);
      return 0;
    }
  };
};

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

double MicrosSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

void RawEcho(natsConnection* nc, natsSubscription*, natsMsg* msg, void*) {
  natsConnection_Publish(nc, natsMsg_GetReply(msg), natsMsg_GetData(msg), natsMsg_GetDataLength(msg));
  natsMsg_Destroy(msg);
}

// A ScheduleRecording-like request.
void MakeParameters(VARIANT* in) {
  VUtil::CreateArray(in, VT_VARIANT, 12);
  VUtil::PutElement(in, 0, std::wstring(L"viewer"));
  VUtil::PutElement(in, 1, std::wstring(L"BBC One"));
  VUtil::PutElement(in, 2, std::wstring(L"channel-17"));
  VUtil::PutDateElement(in, 3, 1796000000);
  VUtil::PutElement(in, 4, static_cast<int32_t>(3600000));
  VUtil::PutElement(in, 5, std::wstring(L"The News"));
  VUtil::PutElement(in, 6, std::wstring(L"News"));
  VUtil::PutElement(in, 7, std::wstring(L"Headlines from around the world, with weather."));
  VUtil::PutElement(in, 8, std::wstring(L"high"));
  VUtil::PutElement(in, 9, std::wstring(L""));
  VUtil::PutElement(in, 10, std::wstring(L"Evening edition"));
  VUtil::PutElement(in, 11, true);
}

}  // namespace

using bench::Median;

int main() {
  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "bus_roundtrip: cannot start nats-server\n");
    return 1;
  }
  std::string url = "nats://127.0.0.1:" + std::to_string(server.Port());

  AutoVariant in;
  MakeParameters(&in);
  std::string payload, error;
  vel::EncodeRequest(L"Echo", in, &payload, &error);

  // Raw libnats: a responder that echoes the same bytes.
  natsOptions* opts = nullptr;
  natsOptions_Create(&opts);
  natsOptions_SetURL(opts, url.c_str());
  natsOptions_SetSendAsap(opts, true);
  natsConnection* responder = nullptr;
  natsConnection* requester = nullptr;
  natsSubscription* sub = nullptr;
  if (natsConnection_Connect(&responder, opts) != NATS_OK ||
      natsConnection_Connect(&requester, opts) != NATS_OK ||
      natsConnection_Subscribe(&sub, responder, "raw.echo", RawEcho, nullptr) != NATS_OK) {
    std::fprintf(stderr, "bus_roundtrip: raw connection failed\n");
    return 1;
  }
  natsConnection_Flush(responder);

  Echo echo;
  Client client;
  if (echo.Connect(server.HostPort(), L"Echo") != 0 || client.Connect(server.HostPort(), L"Client") != 0) {
    std::fprintf(stderr, "bus_roundtrip: satellites cannot connect\n");
    return 1;
  }
  auto rawCall = [&]() -> double {
    auto start = std::chrono::steady_clock::now();
    natsMsg* reply = nullptr;
    if (natsConnection_Request(&reply, requester, "raw.echo", payload.data(),
                               static_cast<int>(payload.size()), 5000) != NATS_OK) {
      return -1;
    }
    const double micros = MicrosSince(start);
    natsMsg_Destroy(reply);
    return micros;
  };
  auto busCall = [&]() -> double {
    AutoVariant out, ret;
    auto start = std::chrono::steady_clock::now();
    if (client.Request(L"Echo", L"Echo", in, &out, 0, &ret) != 0) return -1;
    return MicrosSince(start);
  };
  std::vector<double> raw, bus, ratios;
  int failed = 0;
  for (int i = -kWarmUp; i < kCalls; ++i) {
    // Alternate which goes first, so that neither always follows the other.
    double r, b;
    if (i % 2 == 0) {
      r = rawCall();
      b = busCall();
    } else {
      b = busCall();
      r = rawCall();
    }
    if (i < 0) continue;
    if (r <= 0 || b <= 0) {
      ++failed;
      continue;
    }
    raw.push_back(r);
    bus.push_back(b);
    ratios.push_back(b / r);
  }

  if (ratios.empty()) {
    std::fprintf(stderr, "bus_roundtrip: no successful calls\n");
    return 1;
  }
  const double ratio = Median(ratios);
  std::printf("payload %zu bytes, %d pairs after %d warm-up pairs (%d failed)\n", payload.size(),
              kCalls, kWarmUp, failed);
  std::printf("raw libnats request   median %8.1f us\n", Median(raw));
  std::printf("VelSatellite::Request median %8.1f us\n", Median(bus));
  std::printf("median of per-pair ratios %.2fx, goal <= 1.2x: %s\n", ratio,
              ratio <= 1.2 && failed == 0 ? "PASS" : "FAIL");

  client.Disconnect();
  echo.Disconnect();
  natsSubscription_Unsubscribe(sub);
  natsSubscription_Destroy(sub);
  natsConnection_Destroy(requester);
  natsConnection_Destroy(responder);
  natsOptions_Destroy(opts);
  return 0;
}
