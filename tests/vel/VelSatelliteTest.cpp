// Satellites on a real nats-server on loopback.
#include "vel/VelSatellite.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/VUtil.h"
#include "tests/common/NatsServer.h"

namespace {

typedef std::function<int(const VARIANT& in, VARIANT* out)> Handler;

class Delegate : public VelSatelliteDelegateGeneric {
 public:
  explicit Delegate(Handler h) : h_(std::move(h)) {}
  int invoke(const std::wstring&, const VARIANT& in, VARIANT* out) override { return h_(in, out); }

 private:
  Handler h_;
};

class TestSatellite : public VelSatellite {
 public:
  void Offer(const std::wstring& method, Handler h) { offers_.push_back({method, std::move(h)}); }
  void DefineServices() override {
    for (auto& o : offers_) AddService(o.first, o.first, new Delegate(o.second));
  }

 private:
  std::vector<std::pair<std::wstring, Handler>> offers_;
};

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
  // satellite name, no answer in time, not connected.
  EXPECT_NE(client.Request(L"Echo", L"Nobody", in, &out, 0, &ret), 0);
  EXPECT_NE(client.Request(L"echo", L"Echo With Blanks", in, &out, 0, &ret), 0);
  TestSatellite slow;
  slow.Offer(L"Slow", [](const VARIANT&, VARIANT*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return 0;
  });
  ASSERT_EQ(slow.Connect(server_.HostPort(), L"Slow"), 0);
  client.SetRequestTimeout(100);
  EXPECT_EQ(client.Request(L"Slow", L"Slow", in, &out, 0, &ret), VEL_TIMEOUT);
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

TEST_F(VelSatelliteTest, ServicesComeBackAfterTheServerRestarts) {
  TestSatellite echo;
  echo.Offer(L"Ping", [](const VARIANT&, VARIANT*) { return 3; });
  ASSERT_EQ(echo.Connect(server_.HostPort(), L"Echo"), 0);
  TestSatellite client;
  ASSERT_EQ(client.Connect(server_.HostPort(), L"Client"), 0);
  AutoVariant in, out, ret;
  ASSERT_EQ(client.Request(L"Echo", L"Ping", in, &out, 0, &ret), 0);

  ASSERT_TRUE(server_.Restart());
  long result = -1;
  for (int i = 0; i < 100 && result != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result = client.Request(L"Echo", L"Ping", in, &out, 0, &ret);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ret.get().lVal, 3);
}

TEST_F(VelSatelliteTest, ConcurrentRequestsAndDisconnectUnderLoad) {
  TestSatellite echo;
  echo.Offer(L"Echo", [](const VARIANT& in, VARIANT* out) {
    VariantCopy(out, &in);
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

}  // namespace
