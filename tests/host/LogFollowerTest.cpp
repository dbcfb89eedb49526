// The host copies the module's FATAL and ERROR log lines to its stderr.
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host/LogFollower.h"
#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"

namespace {

class LogFollowerTest : public ::testing::Test {
 protected:
  void SetUp() override { sink_ = std::tmpfile(); }
  void TearDown() override { std::fclose(sink_); }
  void Append(const std::string& text) {
    std::ofstream file(path_, std::ios::app);
    file << text;
  }
  std::string Copied() {
    std::fflush(sink_);
    return tev::test::ReadFile("/proc/self/fd/" + std::to_string(fileno(sink_)));
  }
  tev::test::TempDir dir_;
  const std::string path_ = dir_.path() + "/TevPVR.log";
  FILE* sink_ = nullptr;
};

TEST_F(LogFollowerTest, CopiesOnlyNewErrorAndFatalLines) {
  Append("2026/12/07 10:00:00.000 [ERROR] - before the start\n");
  LogFollower follower(path_, sink_);
  follower.Start();
  Append("2026/12/07 10:00:01.000 [DEBUG] - chatter\n"
         "2026/12/07 10:00:02.000 [ERROR] - Database not initialized\n"
         "2026/12/07 10:00:03.000 [INFO] - more\n"
         "2026/12/07 10:00:04.000 [FATAL] - TevPVR - gone\n"
         "2026/12/07 10:00:05.000 [ERROR] - half a li");
  follower.Stop();
  EXPECT_EQ(Copied(),
            "2026/12/07 10:00:02.000 [ERROR] - Database not initialized\n"
            "2026/12/07 10:00:04.000 [FATAL] - TevPVR - gone\n");
}

TEST_F(LogFollowerTest, FollowsAFileCreatedOrReplacedAfterTheStart) {
  {
    LogFollower follower(path_, sink_);
    follower.Start();  // no file yet
    Append("x [ERROR] - first file\n");
    follower.Stop();
  }
  Append("x [ERROR] - old line, already in the file at the start\n");
  LogFollower follower(path_, sink_);
  follower.Start();
  ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".back").c_str()), 0);
  Append("x [ERROR] - rotated\n");
  follower.Stop();
  EXPECT_EQ(Copied(), "x [ERROR] - first file\nx [ERROR] - rotated\n");
}

TEST(LogFollower, LogPathOfAModuleLibrary) {
  EXPECT_EQ(LogFollower::LogPathFor("/usr/lib/tev/libTevPVR.so", "/var/lib/tev"),
            "/var/lib/tev/TevNetworks/Logs/TevPVR.log");
  EXPECT_EQ(LogFollower::LogPathFor("build/libTevPVR.so.1", "/a"), "/a/TevNetworks/Logs/TevPVR.log");
  EXPECT_EQ(LogFollower::LogPathFor("Other.so", "/a"), "/a/TevNetworks/Logs/Other.log");
}

}  // namespace
