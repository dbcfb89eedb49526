// Request/reply cost of the bus library against raw libnats on one loopback
// nats-server: 2000 round trips each of a 12-element parameter array.
// Goal: VelSatellite::Request within 1.5x of the raw round trip (median).
#include <nats/nats.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/VUtil.h"
#include "support/WideText.h"
#include "tests/common/NatsServer.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace {

const int kCalls = 2000;

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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

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

int main() {
  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "bus_roundtrip: cannot start nats-server\n");
    return 1;
  }
  std::string url = "nats://127.0.0.1:" + std::to_string(server.Port());

  AutoVariant in;
  MakeParameters(&in);
  nlohmann::json json;
  std::string error;
  vel::EncodeVariant(in, &json, &error);
  std::string payload = vel::EncodeRequest(L"Echo", json);

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
  std::vector<double> raw;
  for (int i = 0; i < kCalls; ++i) {
    auto start = std::chrono::steady_clock::now();
    natsMsg* reply = nullptr;
    if (natsConnection_Request(&reply, requester, "raw.echo", payload.data(),
                               static_cast<int>(payload.size()), 5000) == NATS_OK) {
      raw.push_back(MicrosSince(start));
      natsMsg_Destroy(reply);
    }
  }

  Echo echo;
  Client client;
  if (echo.Connect(server.HostPort(), L"Echo") != 0 || client.Connect(server.HostPort(), L"Client") != 0) {
    std::fprintf(stderr, "bus_roundtrip: satellites cannot connect\n");
    return 1;
  }
  std::vector<double> bus;
  for (int i = 0; i < kCalls; ++i) {
    AutoVariant out, ret;
    auto start = std::chrono::steady_clock::now();
    if (client.Request(L"Echo", L"Echo", in, &out, 0, &ret) == 0) bus.push_back(MicrosSince(start));
  }

  if (raw.empty() || bus.empty()) {
    std::fprintf(stderr, "bus_roundtrip: no successful calls\n");
    return 1;
  }
  double rawMedian = Median(raw), busMedian = Median(bus), ratio = busMedian / rawMedian;
  std::printf("payload %zu bytes, %d calls each\n", payload.size(), kCalls);
  std::printf("raw libnats request   median %8.1f us (%zu ok)\n", rawMedian, raw.size());
  std::printf("VelSatellite::Request median %8.1f us (%zu ok)\n", busMedian, bus.size());
  std::printf("ratio %.2fx, goal <= 1.5x: %s\n", ratio, ratio <= 1.5 ? "PASS" : "FAIL");

  client.Disconnect();
  echo.Disconnect();
  natsSubscription_Unsubscribe(sub);
  natsSubscription_Destroy(sub);
  natsConnection_Destroy(requester);
  natsConnection_Destroy(responder);
  natsOptions_Destroy(opts);
  return 0;
}
