// Failed recordings say why in the log, velctl list and the page, with the
// module as an ordinary user (root writes anywhere) and the recording folder
// owned by root, as after a package install.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/common/Shell.h"
#include "tests/web/WebStack.h"

namespace {

using nlohmann::json;
using webtest::WebStack;

int ErrorLines(const std::string& log, const std::string& text) {
  std::istringstream lines(tev::test::ReadFile(log));
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ERROR") != std::string::npos && line.find(text) != std::string::npos) ++count;
  }
  return count;
}

class WebFailureReason : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the module as nobody";
    const struct passwd* user = getpwnam("nobody");
    const struct group* group = getgrnam("nogroup");
    if (user == nullptr || group == nullptr) GTEST_SKIP() << "no user nobody:nogroup here";
    nobody_ = user->pw_uid;
    nogroup_ = group->gr_gid;
  }

  static void Own(const std::string& folder, uid_t uid, gid_t gid) {
    ASSERT_EQ(chown(folder.c_str(), uid, gid), 0) << folder;
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0) << folder;
  }

  uid_t nobody_ = 0;
  gid_t nogroup_ = 0;
  WebStack stack_;
};

TEST_F(WebFailureReason, TheLogVelctlAndThePageSayWhyARecordingFailed) {
  // A channel whose source is gone: ffmpeg gives up at once and says why.
  const std::string missing = stack_.Dir() + "/gone.ts";
  json channels = json::parse(tev::test::ReadFile(TEV_SOURCE_DIR "/peers/samples/channels.json"));
  channels.push_back({{"id", "ch-gone"},
                      {"name", "Gone Feed"},
                      {"path", missing},
                      {"mimeType", "video/x-tv"},
                      {"mediaType", "tv.channel"},
                      {"xmltvId", ""}});
  std::ofstream(stack_.Dir() + "/channels.json") << channels.dump();
  stack_.UseChannels(stack_.Dir() + "/channels.json");
  const std::string folder = stack_.RecordingFolder();
  const std::string elsewhere = stack_.Dir() + "/documents/Elsewhere";
  ASSERT_EQ(system(("mkdir -p '" + folder + "' '" + elsewhere + "'").c_str()), 0);
  stack_.RunModuleAs("nobody", "nogroup");
  std::string error;
  ASSERT_TRUE(stack_.Start({}, &error)) << error << " (files in " << stack_.Dir() << ")";

  // Start-up names the folder nobody can record into, once.
  const std::string notWritable =
      "the folder " + folder + " is not writable by user nobody: Permission denied";
  ASSERT_TRUE(
      WebStack::WaitUntil([&] { return ErrorLines(stack_.ModuleLog(), notWritable) > 0; }, 30))
      << tev::test::ReadFile(stack_.ModuleLog());
  EXPECT_EQ(ErrorLines(stack_.ModuleLog(), "the folder " + folder + " "), 1);

  // So does a change to another such folder, which is refused.
  int status = 0;
  stack_.Send("PUT", "/api/settings", {{"videoDir", elsewhere}}, &status);
  EXPECT_NE(status, 200);
  // An answer may come before the log's writer has flushed its line.
  const auto linesOnceLogged = [this](const std::string& text) {
    WebStack::WaitUntil([&] { return ErrorLines(stack_.ModuleLog(), text) > 0; }, 30);
    return ErrorLines(stack_.ModuleLog(), text);
  };
  EXPECT_EQ(linesOnceLogged("the recording folder was not changed: the folder " + elsewhere +
                            " is not writable by user nobody: Permission denied"),
            1)
      << tev::test::ReadFile(stack_.ModuleLog());

  // A stream that fails at once brings the streamer's own words.
  Own(folder, nobody_, nogroup_);
  json added;
  const std::string lost = stack_.Schedule("Gone Feed", "ch-gone", "Lost Show", webtest::Now(), 60, &status, &added);
  ASSERT_EQ(status, 201) << added.dump();
  ASSERT_TRUE(WebStack::WaitUntil(
      [&] { return stack_.Find("/api/recordings", lost)["state"] == "error"; }, 60))
      << stack_.Find("/api/recordings", lost).dump();
  const std::string ffmpegSaid = "(the streamer said: " + missing + ": No such file or directory)";
  const std::string lostWhy = stack_.Find("/api/recordings", lost).value("failure", "");
  EXPECT_EQ(lostWhy.rfind("the streamer wrote no file ", 0), 0u) << lostWhy;
  EXPECT_NE(lostWhy.find(ffmpegSaid), std::string::npos) << lostWhy;

  // Made while the folder was writable, it fails once the folder is root's.
  const std::string late =
      stack_.Schedule("Test Card", "ch-testcard", "Late Show", webtest::Now() + 3600, 60, &status, &added);
  ASSERT_EQ(status, 201) << added.dump();
  Own(folder, 0, 0);
  const std::string retried = stack_.Velctl("retry " + late);
  ASSERT_TRUE(WebStack::WaitUntil(
      [&] { return stack_.Find("/api/recordings", late)["state"] == "error"; }, 30))
      << retried << stack_.Find("/api/upcoming", late).dump();
  EXPECT_EQ(stack_.Find("/api/recordings", late).value("failure", ""), notWritable);
  EXPECT_EQ(linesOnceLogged("could not start recording Late Show (#"), 1);
  EXPECT_EQ(linesOnceLogged("): " + notWritable), 1) << tev::test::ReadFile(stack_.ModuleLog());

  const std::string listed = stack_.Velctl("list");
  EXPECT_NE(webtest::LineStarting(listed, lost + " ").find(ffmpegSaid), std::string::npos) << listed;
  EXPECT_NE(webtest::LineStarting(listed, late + " ").find("(" + notWritable + ")"), std::string::npos) << listed;
}

}  // namespace
