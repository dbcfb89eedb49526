// velctl as a person uses it, against a satellite on a loopback bus.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/VUtil.h"
#include "support/WideText.h"
#include "tests/common/NatsServer.h"
#include "vel/VelSatellite.h"

namespace {

class Echo : public VelSatellite {
 public:
  void DefineServices() override {
    AddService(L"Echo", L"Echo", new Handler([](const VARIANT& in, VARIANT* out) {
                 VariantCopy(out, &in);
                 return 0;
               }));
    AddService(L"Refuse", L"Refuse", new Handler([](const VARIANT&, VARIANT*) { return 103; }));
  }

 private:
  struct Handler : VelSatelliteDelegateGeneric {
    explicit Handler(int (*f)(const VARIANT&, VARIANT*)) : f(f) {}
    int invoke(const std::wstring&, const VARIANT& in, VARIANT* out) override { return f(in, out); }
    int (*f)(const VARIANT&, VARIANT*);
  };
};

struct Outcome {
  int status;
  std::string output;
};

Outcome Velctl(const std::string& args, const std::string& input = "") {
  std::string command = std::string(TEV_BINARY_DIR "/tools/velctl ") + args;
  if (!input.empty()) command = "printf '%s' '" + input + "' | " + command;
  FILE* pipe = popen(command.c_str(), "r");
  Outcome run{-1, ""};
  std::array<char, 512> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Velctl, CallsAMethodAndReportsOutAndReturnCodes) {
  tev::test::NatsServer server;
  ASSERT_TRUE(server.Start());
  Echo echo;
  ASSERT_EQ(echo.Connect(server.HostPort(), L"EchoSat"), 0);
  std::string host = "--timeout 5000 --host " + tev::ToStdUtf8(server.HostPort()) + " ";

  Outcome ok = Velctl(host + "EchoSat Echo '[\"caf\u00e9\", 5, {\"vt\":\"I2\",\"v\":3}]'");
  EXPECT_EQ(ok.status, 0) << ok.output;
  nlohmann::json report = nlohmann::json::parse(ok.output);
  EXPECT_EQ(report["result"], 0);
  EXPECT_EQ(report["ret"], 0);
  EXPECT_EQ(report["out"], nlohmann::json::parse("[\"caf\u00e9\", 5, {\"vt\":\"I2\",\"v\":3}]"));

  Outcome fromStdin = Velctl(host + "EchoSat Echo -", "[true]");
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(nlohmann::json::parse(fromStdin.output)["out"], nlohmann::json::parse("[true]"));

  Outcome refused = Velctl(host + "any Refuse");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(nlohmann::json::parse(refused.output)["ret"], 103);

  Outcome nobody = Velctl(host + "EchoSat Missing");
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nlohmann::json::parse(nobody.output)["result"], 0);

  EXPECT_EQ(Velctl(host + "EchoSat Echo '[1,'").status, 2);
  server.Stop();
  EXPECT_EQ(Velctl(host + "EchoSat Echo").status, 3);
}

}  // namespace
