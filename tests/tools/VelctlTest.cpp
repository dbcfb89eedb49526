// velctl as a person uses it, against a satellite on a loopback bus.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/EchoSatellite.h"
#include "tests/common/NatsServer.h"
#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace {

class Echo : public tev::test::EchoSatellite {
 public:
  Echo() { Offer(L"Refuse", [](const VARIANT&, VARIANT*) { return 103; }); }
};

using Outcome = tev::test::ShellRun;

Outcome RunVelctl(const std::string& args, const std::string& input = "") {
  std::string command = std::string(TEV_BINARY_DIR "/tools/velctl ") + args;
  if (!input.empty()) command = "printf '%s' '" + input + "' | " + command;
  return tev::test::RunShell(command);
}

class Velctl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(echo.Connect(server.HostPort(), L"EchoSat"), 0);
    host = "--timeout 5000 --host " + tev::ToStdUtf8(server.HostPort()) + " ";
  }
  tev::test::NatsServer server;
  Echo echo;
  std::string host;
};

TEST_F(Velctl, CallsAMethodAndReportsOutAndReturnCodes) {
  Outcome ok = RunVelctl(host + "EchoSat Echo '[\"caf\u00e9\", 5, {\"vt\":\"I2\",\"v\":3}]'");
  EXPECT_EQ(ok.status, 0) << ok.output;
  nlohmann::json report = nlohmann::json::parse(ok.output);
  EXPECT_EQ(report["result"], 0);
  EXPECT_EQ(report["ret"], 0);
  EXPECT_EQ(report["out"], nlohmann::json::parse("[\"caf\u00e9\", 5, {\"vt\":\"I2\",\"v\":3}]"));

  Outcome fromStdin = RunVelctl(host + "EchoSat Echo -", "[true]");
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(nlohmann::json::parse(fromStdin.output)["out"], nlohmann::json::parse("[true]"));

  Outcome refused = RunVelctl(host + "any Refuse");
  EXPECT_EQ(nlohmann::json::parse(refused.output)["ret"], 103);

  Outcome nobody = RunVelctl(host + "EchoSat Missing");
  EXPECT_EQ(nlohmann::json::parse(nobody.output)["result"], 2);

  EXPECT_EQ(RunVelctl(host + "EchoSat Echo '[1,'").status, 2);
  server.Stop();
  EXPECT_EQ(RunVelctl(host + "EchoSat Echo").status, 3);
}

TEST_F(Velctl, SaysWhatFailedAndExitsByKind) {
  const struct {
    std::string args;
    int exit;
    const char* says;
  } cases[] = {
      {host + "EchoSat Missing", 3, "EchoSat is on the bus but does not offer Missing"},
      {host + "ZoVIZ GetPVRRecordPadding", 3, "no satellite offers GetPVRRecordPadding: is the module"},
      {host + "EchoSat Refuse", 1, "EchoSat refused Refuse: no such schedule (103)"},
      {host + "schedule --in 2m", 2, "--channel is required"},
      {host + "schedule --channel x --at 21:00 --in 2m", 2, "--at excludes --in"},
      {host + "schedule --channel x --for 2x", 2, "\"2x\" is not a duration"},
      {host + "schedule --channel x --at \"2001-02-03 04:05\"", 2, "--at: 2001-02-03 04:05 has passed"},
      {"--version", 0, "velctl "},
      {"schedule --help", 0, "--for TEXT=30m"},
      {"--timeout 1000 --host 127.0.0.1:1 list", 3, "cannot join the bus at 127.0.0.1:1"},
  };
  for (const auto& c : cases) {
    Outcome run = RunVelctl(c.args + " 2>&1");
    EXPECT_EQ(run.status, c.exit) << c.args << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.args << "\n" << run.output;
  }
}

// The library keeps a recording the module removed under a "deleted." media
// type; list shows it only with --all.
TEST_F(Velctl, ListShowsRemovedRecordingsOnlyWithAll) {
  tev::test::OfferingSatellite library;
  library.Offer(L"GetMediaFromSource", [](const VARIANT&, VARIANT* out) {
    const auto medium = [](const char* id, const char* state, const char* type, const char* title) {
      return nlohmann::json::array({"PVR", std::string("/rec/") + id, id, state, type, title, "Test Card",
                                    "2026-12-07 21:00:00", 1800000, "", ""});
    };
    nlohmann::json media = nlohmann::json::array(
        {medium("M1", "complete", "video.file.recorded.tv", "Kept 2026-12-07 21:00"),
         medium("M2", "complete", "deleted.video.file.recorded.tv", "Gone 2026-12-07 21:00"),
         medium("M3", "deleted", "schedule.video.file.recorded.tv", "Skipped 2026-12-07 21:00")});
    std::string error;
    EXPECT_TRUE(vel::DecodeVariant(nlohmann::json::array({media}), out, &error)) << error;
    return 0;
  });
  ASSERT_EQ(library.Connect(server.HostPort(), L"TevMediaV2"), 0);

  Outcome shown = RunVelctl(host + "list");
  EXPECT_EQ(shown.status, 0) << shown.output;
  EXPECT_NE(shown.output.find("M1       complete"), std::string::npos) << shown.output;
  EXPECT_EQ(shown.output.find("M2"), std::string::npos) << shown.output;
  EXPECT_EQ(shown.output.find("M3"), std::string::npos) << shown.output;

  Outcome all = RunVelctl(host + "list --all");
  EXPECT_EQ(all.status, 0) << all.output;
  EXPECT_NE(all.output.find("M1       complete"), std::string::npos) << all.output;
  EXPECT_NE(all.output.find("M2       deleted"), std::string::npos) << all.output;
  EXPECT_NE(all.output.find("M3       deleted"), std::string::npos) << all.output;
}

TEST_F(Velctl, SaysWhyItCannotReadItsSettingsFile) {
  tev::test::TempDir dir;
  const std::string missing = dir.path() + "/missing.ini";
  Outcome run = RunVelctl(host + "--settings " + missing + " EchoSat Echo 2>&1");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("cannot read the settings file " + missing + ": the file is missing"),
            std::string::npos)
      << run.output;

  // A file of another group (as root, velctl runs as nobody), or one it may not read.
  const std::string secret = dir.path() + "/velctl.ini";
  std::ofstream(secret) << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
                           "velDirectory.user=velctl\n";
  std::string as;
  std::string says = "cannot read the settings file " + secret + ": permission denied";
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(tev::test::RunShell("chgrp daemon " + secret + " && chmod 0640 " + secret).status, 0);
    as = "runuser -u nobody -- ";
    says += "; run as a member of group daemon";
  } else {
    ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  }
  run = tev::test::RunShell(as + TEV_BINARY_DIR "/tools/velctl " + host + "--settings " + secret +
                            " EchoSat Echo 2>&1");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find(says), std::string::npos) << run.output;
}

}  // namespace
