// Satellites on a real nats-server on loopback.
#include "vel/VelSatellite.h"

#include <atomic>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nats/nats.h>
#include <nlohmann/json.hpp>

#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"
#include "vel/Subjects.h"

namespace {

using TestSatellite = tev::test::OfferingSatellite;

// A raw connection to the server, for answers the satellites would not give.
natsConnection* RawConnection(const tev::test::NatsServer& server) {
  natsConnection* raw = nullptr;
  const std::string url = "nats://127.0.0.1:" + std::to_string(server.Port());
  EXPECT_EQ(natsConnection_ConnectTo(&raw, url.c_str()), NATS_OK);
  return raw;
}

VARIANT Long(int32_t n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

natsSubscription* OfferRaw(natsConnection* raw, const std::wstring& method, natsMsgHandler handler,
                           void* closure) {
  natsSubscription* sub = nullptr;
  const std::string subject = vel::DirectSubject(L"Raw", method);
  EXPECT_EQ(natsConnection_Subscribe(&sub, raw, subject.c_str(), handler, closure), NATS_OK);
  return sub;
}

void Wait(const std::function<bool()>& done) {
  for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

class VelSatelliteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  tev::test::NatsServer server_;
};

TEST_F(VelSatelliteTest, DirectRequestsCarryValuesResultsAndHandlerExceptions) {
  TestSatellite echo;
  echo.Offer(L"Echo With Blanks", [](const VARIANT& in, VARIANT* out) {
    VariantCopy(out, &in);
    return 7;
  });
  echo.Offer(L"Throws", [](const VARIANT&, VARIANT*) -> int {
    throw VelInvalidParameterException(L"Element is not a string");
  });
  ASSERT_EQ(echo.Connect(server_.HostPort(), L"Echo"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);

  AutoVariant in, out, ret;
  VUtil::CreateArray(&in, VT_VARIANT, 2);
  VUtil::PutElement(&in, 0, std::wstring(L"caf\u00e9 \U0001F600"));
  VUtil::PutDateElement(&in, 1, 43200);
  ASSERT_EQ(client.Request(L"Echo", L"Echo With Blanks", in, &out, 0, &ret), 0);
  EXPECT_EQ(ret.get().vt, VT_I4);
  EXPECT_EQ(ret.get().lVal, 7);
  EXPECT_EQ(VUtil::GetStringElement(out, 0), L"caf\u00e9 \U0001F600");
  EXPECT_EQ(VUtil::GetDateElement(out, 1), 43200);

  // The exception's code and message reach the caller; the satellite goes on.
  ASSERT_EQ(client.Request(L"Echo", L"Throws", in, &out, 0, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 1);
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Element is not a string");
  EXPECT_THROW(VUtil::CheckSingleRetcode(ret, L"Throws"), VelInvalidParameterException);
  ASSERT_EQ(client.Request(L"Echo", L"Echo With Blanks", in, &out, 0, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 7);

  // Bus failures are non-zero results: nobody offers it, wrong case of the
  // satellite name, not connected (no answer in time: below).
  EXPECT_EQ(client.Request(L"Echo", L"Nobody", in, &out, 0, &ret), VEL_NO_RESPONDERS);
  EXPECT_EQ(client.Request(L"echo", L"Echo With Blanks", in, &out, 0, &ret), VEL_NO_RESPONDERS);
  EXPECT_EQ(client.Request(L"Echo With Blanks", L"Echo", in, &out, 0, &ret), VEL_NO_RESPONDERS);

  // The services come back after the server restarts.
  client.SetRequestTimeout(2000);
  server_.Stop();
  ASSERT_TRUE(server_.Start());
  long result = -1;
  for (int i = 0; i < 100 && result != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result = client.Request(L"Echo", L"Echo With Blanks", in, &out, 0, &ret);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ret.get().lVal, 7);
  client.Disconnect();
  EXPECT_EQ(client.Request(L"Echo", L"Echo With Blanks", in, &out, 0, &ret), VEL_NOT_CONNECTED);
}

TEST_F(VelSatelliteTest, AnyReachesOneOffererAndAllReachesEveryOne) {
  std::atomic<int> calls[2] = {{0}, {0}};
  std::atomic<int> broadcasts{0};
  TestSatellite a, b;
  for (int i = 0; i < 2; ++i) {
    TestSatellite& s = i == 0 ? a : b;
    s.Offer(L"GetTVInfo", [&calls, i](const VARIANT&, VARIANT*) {
      ++calls[i];
      return 0;
    });
    s.Offer(L"NotifyPVRRecordingChange", [&broadcasts](const VARIANT&, VARIANT*) {
      ++broadcasts;
      return 0;
    });
  }
  ASSERT_EQ(a.Connect(server_.HostPort(), L"A"), 0);
  ASSERT_EQ(b.Connect(server_.HostPort(), L"B"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);
  AutoVariant in, out, ret;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(client.Request(i % 2 ? L"any" : L"Any", L"GetTVInfo", in, &out, 0, &ret), 0);
  }
  EXPECT_EQ(calls[0] + calls[1], 20);
  EXPECT_EQ(client.Request(L"ALL", L"NotifyPVRRecordingChange", in, &out, 0, &ret), 0);
  Wait([&] { return broadcasts.load() == 2; });
  EXPECT_EQ(broadcasts.load(), 2);
  // A broadcast nobody listens to is still no failure for the sender.
  EXPECT_EQ(client.Request(L"ALL", L"NoListeners", in, &out, 0, &ret), 0);
}

TEST_F(VelSatelliteTest, ConcurrentRequestsAndDisconnectOfEitherSideUnderLoad) {
  tev::test::EchoSatellite echo(0);
  echo.Offer(L"Slow", [](const VARIANT&, VARIANT*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return 0;
  });
  ASSERT_EQ(echo.Connect(server_.HostPort(), L"Echo"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);
  client.SetRequestTimeout(2000);  // a request cut off by the disconnect
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        AutoVariant in, out, ret;
        VUtil::CreateArray(&in, VT_VARIANT, 1);
        VUtil::PutElement(&in, 0, static_cast<int32_t>(t * 1000 + i));
        if (client.Request(L"Echo", L"Echo", in, &out, 0, &ret) == 0 &&
            VUtil::GetLongElement(out, 0) == t * 1000 + i)
          ++ok;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok.load(), 200);

  // A client disconnecting while its own requests run (one of them slow).
  for (int round = 0; round < 3; ++round) {
    TestSatellite own;
    ASSERT_EQ(own.Connect(server_.HostPort(), L"Own"), 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int t = 0; t < 3; ++t) {
      load.emplace_back([&, t] {
        AutoVariant in, out, ret;
        while (!stop) own.Request(L"Echo", t == 0 ? L"Slow" : L"Echo", in, &out, 0, &ret);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    own.Disconnect();
    AutoVariant in, out, ret;
    EXPECT_EQ(own.Request(L"Echo", L"Echo", in, &out, 0, &ret), VEL_NOT_CONNECTED);
    stop = true;
    for (auto& th : load) th.join();
  }

  // Disconnecting the server side while requests arrive must not crash.
  std::atomic<bool> stop{false};
  std::thread load([&] {
    AutoVariant in, out, ret;
    while (!stop) client.Request(L"Echo", L"Echo", in, &out, 0, &ret);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  echo.Disconnect();
  stop = true;
  load.join();
}

int Twice(const std::wstring&, const VARIANT& in, VARIANT* out) {
  VariantClear(out);
  out->vt = VT_I4;
  out->lVal = in.vt == VT_I4 ? in.lVal * 2 : 0;
  return 0;
}

class FunctionSatellite : public VelSatellite {
 public:
  void DefineServices() override { AddService(L"Twice", L"Twice", &Twice); }
};

TEST_F(VelSatelliteTest, PingsRemovedServicesAndFailedConnects) {
  FunctionSatellite twice;
  ASSERT_EQ(twice.Connect(server_.HostPort(), L"Twice Satellite"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);

  AutoVariant in, out, ret;
  in.get() = Long(21);
  ASSERT_EQ(client.Request(L"Twice Satellite", L"Twice", in, &out, 0, &ret), 0);
  EXPECT_EQ(out.get().vt, VT_I4);
  EXPECT_EQ(out.get().lVal, 42);

  VELSTATUS status = VELSTATUS_UNKNOWN;
  EXPECT_EQ(client.DirectoryPingSatellite(L"127.0.0.1", L"Twice Satellite", 0, 1000, &status), 0);
  EXPECT_EQ(status, VELSTATUS_ONLINE);
  EXPECT_EQ(client.DirectoryPingSatellite(L"127.0.0.1", L"Nobody", 0, 1000, &status), 0);
  EXPECT_EQ(status, VELSTATUS_OFFLINE);

  // Presence is answered the same whatever the body: empty, not JSON, or a request of another kind.
  natsConnection* raw = RawConnection(server_);
  const std::string subject = vel::PingSubject(L"Twice Satellite");
  for (const char* body : {"", "not json", "{\"method\":\"Twice\",\"in\":{\"vt\":\"I4\",\"v\":1}}"}) {
    natsMsg* reply = nullptr;
    ASSERT_EQ(natsConnection_Request(&reply, raw, subject.c_str(), body, static_cast<int>(strlen(body)), 1000),
              NATS_OK) << body;
    EXPECT_EQ(nlohmann::json::parse(std::string(natsMsg_GetData(reply), natsMsg_GetDataLength(reply))),
              nlohmann::json::parse(R"({"ret":0,"out":{"vt":"EMPTY"}})")) << body;
    natsMsg_Destroy(reply);
  }
  natsConnection_Destroy(raw);

  twice.RemoveService(L"Twice");
  EXPECT_EQ(client.Request(L"Twice Satellite", L"Twice", in, &out, 0, &ret), VEL_NO_RESPONDERS);
  EXPECT_EQ(client.Request(L"any", L"Twice", in, &out, 0, &ret), VEL_NO_RESPONDERS);
  twice.Disconnect();
  twice.Disconnect();
  EXPECT_EQ(client.DirectoryPingSatellite(L"127.0.0.1", L"Twice Satellite", 0, 1000, &status), 0);
  EXPECT_EQ(status, VELSTATUS_OFFLINE);
  client.Disconnect();
  EXPECT_NE(client.DirectoryPingSatellite(L"127.0.0.1", L"Twice Satellite", 0, 1000, &status), 0);
  EXPECT_EQ(status, VELSTATUS_UNKNOWN);

  // Nothing listens on this port: Connect fails at once and does not retry.
  TestSatellite lonely;
  std::wstring nowhere = L"127.0.0.1:" + std::to_wstring(tev::test::FreeLoopbackPort());
  EXPECT_EQ(lonely.Connect(nowhere, L"Lonely"), VEL_CONNECT_FAILED);
  EXPECT_EQ(lonely.Request(L"any", L"Twice", in, &out, 0, &ret), VEL_NOT_CONNECTED);
}

void AnswerRaw(natsConnection* nc, natsSubscription*, natsMsg* msg, void* closure) {
  const char* text = static_cast<const char*>(closure);
  natsConnection_PublishString(nc, natsMsg_GetReply(msg), text);
  natsMsg_Destroy(msg);
}

void AnswerTwice(natsConnection* nc, natsSubscription*, natsMsg* msg, void*) {
  const std::string first = R"({"ret":1,"out":"first"})", second = R"({"ret":2,"out":"second"})";
  natsConnection_Publish(nc, natsMsg_GetReply(msg), first.data(), static_cast<int>(first.size()));
  natsConnection_Publish(nc, natsMsg_GetReply(msg), second.data(), static_cast<int>(second.size()));
  natsMsg_Destroy(msg);
}

// A responder that keeps the reply subjects and answers when told.
struct Postponed {
  std::mutex mu;
  std::vector<std::string> replyTo;
};
void Postpone(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  Postponed* postponed = static_cast<Postponed*>(closure);
  std::lock_guard<std::mutex> hold(postponed->mu);
  postponed->replyTo.push_back(natsMsg_GetReply(msg));
  natsMsg_Destroy(msg);
}

TEST_F(VelSatelliteTest, EachAnswerReachesOnlyTheRequestItAnswers) {
  natsConnection* raw = RawConnection(server_);
  ASSERT_NE(raw, nullptr);
  Postponed postponed;
  natsSubscription* twice = OfferRaw(raw, L"Twice", &AnswerTwice, nullptr);
  natsSubscription* later = OfferRaw(raw, L"Later", &Postpone, &postponed);
  // Each kind of malformed reply is the codec's test; here, what the caller gets.
  static char badRet[] = R"({"ret":"0","out":1})", noOut[] = R"({"ret":0})";
  natsSubscription* malformed = OfferRaw(raw, L"Malformed", &AnswerRaw, badRet);
  natsSubscription* outless = OfferRaw(raw, L"Outless", &AnswerRaw, noOut);
  ASSERT_EQ(natsConnection_Flush(raw), NATS_OK);
  tev::test::EchoSatellite echo(5);
  ASSERT_EQ(echo.Connect(server_.HostPort(), L"Echo"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);
  client.SetRequestTimeout(300);

  auto expectOwnAnswers = [&](int from) {
    for (int32_t i = from; i < from + 5; ++i) {
      AutoVariant in, out, ret;
      in.get() = Long(i);
      ASSERT_EQ(client.Request(L"Echo", L"Echo", in, &out, 0, &ret), 0);
      EXPECT_EQ(ret.get().lVal, 5);
      ASSERT_EQ(out.get().vt, VT_I4);
      EXPECT_EQ(out.get().lVal, i);
    }
  };
  auto held = [&postponed] {
    std::lock_guard<std::mutex> hold(postponed.mu);
    return postponed.replyTo.size();
  };
  auto answer = [&](size_t index, const std::string& json) {
    std::lock_guard<std::mutex> hold(postponed.mu);
    ASSERT_EQ(natsConnection_Publish(raw, postponed.replyTo[index].c_str(), json.data(),
                                     static_cast<int>(json.size())),
              NATS_OK);
  };
  AutoVariant in, out, ret;
  EXPECT_EQ(client.Request(L"Raw", L"Malformed", in, &out, 0, &ret), VEL_BAD_REPLY);
  // A reply without "out" carries nothing: VT_EMPTY.
  EXPECT_EQ(client.Request(L"Raw", L"Outless", in, &out, 0, &ret), 0);
  EXPECT_EQ(out.get().vt, VT_EMPTY);
  // The second answer is nobody's: the next requests get their own.
  ASSERT_EQ(client.Request(L"Raw", L"Twice", in, &out, 0, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 1);
  EXPECT_EQ(VUtil::GetScalarString(out), L"first");
  expectOwnAnswers(100);
  // An answer after the request gave up reaches no later request.
  EXPECT_EQ(client.Request(L"Raw", L"Later", in, &out, 0, &ret), VEL_TIMEOUT);
  ASSERT_EQ(held(), 1u);
  answer(0, R"({"ret":9,"out":"late"})");
  ASSERT_EQ(natsConnection_Flush(raw), NATS_OK);
  expectOwnAnswers(200);
  // Nobody offers it: refused, and the requests after it are served.
  EXPECT_EQ(client.Request(L"Raw", L"Nobody", in, &out, 0, &ret), VEL_NO_RESPONDERS);
  expectOwnAnswers(300);

  // Two posted requests, answered in the reverse order, collected in any order.
  client.SetRequestTimeout(2000);
  auto first = client.Post(L"Raw", L"Later", Long(1));
  auto second = client.Post(L"Raw", L"Later", Long(2));
  Wait([&] { return held() == 3; });
  ASSERT_EQ(held(), 3u);
  answer(2, R"({"ret":11,"out":101})");
  answer(1, R"({"ret":10,"out":100})");
  ASSERT_EQ(client.Collect(std::move(second), &out, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 11);
  EXPECT_EQ(out.get().lVal, 101);
  ASSERT_EQ(client.Collect(std::move(first), &out, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 10);
  EXPECT_EQ(out.get().lVal, 100);
  // One dropped unread: its late answer reaches no later request.
  client.Post(L"Raw", L"Later", Long(3)).reset();
  Wait([&] { return held() == 4; });
  ASSERT_EQ(held(), 4u);
  auto echoed = client.Post(L"Echo", L"Echo", Long(4));
  answer(3, R"({"ret":9,"out":"late"})");
  ASSERT_EQ(client.Collect(std::move(echoed), &out, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 5);
  EXPECT_EQ(out.get().lVal, 4);
  expectOwnAnswers(400);
  // Failures come out of Collect as Request gives them.
  VARIANT none;
  VariantInit(&none);
  EXPECT_EQ(client.Collect(client.Post(L"Raw", L"Nobody", none), &out, &ret), VEL_NO_RESPONDERS);
  TestSatellite offline;
  EXPECT_EQ(offline.Collect(offline.Post(L"Echo", L"Echo", none), &out, &ret), VEL_NOT_CONNECTED);
  EXPECT_EQ(client.Collect(nullptr, &out, &ret), VEL_BAD_ARGUMENT);

  client.Disconnect();
  echo.Disconnect();
  natsSubscription_Destroy(twice);
  natsSubscription_Destroy(later);
  natsSubscription_Destroy(malformed);
  natsSubscription_Destroy(outless);
  natsConnection_Destroy(raw);
}

TEST_F(VelSatelliteTest, ARequestThatWaitsDelaysOnlyItself) {
  // The first request waits (for a peer that does not answer) until the test
  // lets it go; later ones are served meanwhile.
  std::mutex mu;
  std::condition_variable released;
  bool release = false;
  std::atomic<int> waiting{0};
  TestSatellite slow;
  slow.Offer(L"Lookup", [&](const VARIANT& in, VARIANT*) {
    if (VUtil::GetLongElement(in, 0) != 0) return 2;
    ++waiting;
    std::unique_lock<std::mutex> hold(mu);
    released.wait(hold, [&] { return release; });
    return 1;
  });
  ASSERT_EQ(slow.Connect(server_.HostPort(), L"Slow"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);

  auto ask = [&](int32_t which) {
    AutoVariant in, out, ret;
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, which);
    EXPECT_EQ(client.Request(L"Slow", L"Lookup", in, &out, 0, &ret), 0);
    return ret.get().vt == VT_I4 ? static_cast<int>(ret.get().lVal) : -1;
  };
  std::thread blocked([&] { EXPECT_EQ(ask(0), 1); });
  Wait([&] { return waiting.load() == 1; });
  ASSERT_EQ(waiting.load(), 1);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(ask(i), 2);
  {
    std::lock_guard<std::mutex> hold(mu);
    release = true;
  }
  released.notify_all();
  blocked.join();
  slow.Disconnect();
  client.Disconnect();
}

}  // namespace
