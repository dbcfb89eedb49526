// Requests nested deep enough to exhaust a thread's stack when copied, sent
// straight to a satellite: it answers -1 with the reason and keeps serving.
#include <string>

#include <gtest/gtest.h>
#include <nats/nats.h>

#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "vel/Subjects.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace {

std::string Nested(size_t depth, const std::string& open, const std::string& close) {
  std::string text;
  text.reserve(depth * (open.size() + close.size()) + 2);
  for (size_t i = 0; i < depth; ++i) text += open;
  text += "1";
  for (size_t i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(WireDepth, ScanCountsOnlyBracketsOutsideStrings) {
  struct Case {
    std::string text;
    int limit;
    bool within;
  } cases[] = {
      {"[[1]]", 2, true},
      {"[[[1]]]", 2, false},
      {R"({"a":{"b":[1]}})", 3, true},
      {R"({"a":{"b":[1]}})", 2, false},
      {R"(["[[[[", "\"[[[["])", 1, true},  // brackets inside strings, escaped quote
      {R"([1],[2],[3])", 1, true},          // siblings do not add up
      {"]]]]][[", 2, true},                  // unbalanced text is the parser's business
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vel::JsonDepthWithin(c.text.data(), c.text.size(), c.limit), c.within) << c.text;
  }
}

TEST(WireDepth, SatelliteAnswersDeepRequestsWithTheReasonAndKeepsServing) {
  tev::test::NatsServer server;
  ASSERT_TRUE(server.Start());
  tev::test::EchoSatellite satellite(7);
  ASSERT_EQ(satellite.Connect(server.HostPort(), L"Deep"), 0);

  natsConnection* raw = nullptr;
  const std::string url = "nats://127.0.0.1:" + std::to_string(server.Port());
  ASSERT_EQ(natsConnection_ConnectTo(&raw, url.c_str()), NATS_OK);
  const std::string subject = vel::DirectSubject(L"Deep", L"Echo");
  const std::string bodies[] = {
      "{\"method\":\"Echo\",\"in\":" + Nested(150000, "[", "]") + "}",
      "{\"method\":\"Echo\",\"in\":" + Nested(40000, "{\"vt\":\"VARIANT\",\"v\":", "}") + "}",
  };
  for (const std::string& body : bodies) {
    ASSERT_LT(body.size(), 1u << 20);
    natsMsg* reply = nullptr;
    ASSERT_EQ(natsConnection_Request(&reply, raw, subject.c_str(), body.data(),
                                     static_cast<int>(body.size()), 10000),
              NATS_OK);
    vel::WireReply decoded;
    std::string error;
    ASSERT_EQ(vel::DecodeReply(natsMsg_GetData(reply), natsMsg_GetDataLength(reply), &decoded,
                               &error),
              vel::WireFault::kNone)
        << error;
    EXPECT_EQ(decoded.ret, -1);
    ASSERT_EQ(decoded.out.vt, VT_BSTR);
    const std::wstring reason = VUtil::GetScalarString(decoded.out);
    EXPECT_NE(reason.find(L"nesting"), std::wstring::npos) << tev::ToStdUtf8(reason);
    natsMsg_Destroy(reply);
  }
  natsConnection_Destroy(raw);

  tev::test::EchoSatellite client;
  ASSERT_EQ(client.Connect(server.HostPort(), L"Client"), 0);
  AutoVariant in, out, ret;
  VUtil::CreateArray(&in, VT_VARIANT, 1);
  VUtil::PutElement(&in, 0, std::wstring(L"still here"));
  ASSERT_EQ(client.Request(L"Deep", L"Echo", in.get(), &out, 0, &ret), 0);
  EXPECT_EQ(ret.get().lVal, 7);
  EXPECT_EQ(VUtil::GetStringElement(out.get(), 0), L"still here");
  client.Disconnect();
  satellite.Disconnect();
}

}  // namespace
