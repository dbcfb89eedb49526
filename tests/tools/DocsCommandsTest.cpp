// Every velctl line of the README and docs/SERVICES.md, run with --dry-run
// through the shell exactly as a reader would paste it, makes a request.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/Shell.h"

namespace {

// Lines of indented code blocks that call velctl, continuations joined.
std::vector<std::string> VelctlLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  std::string line, pending;
  while (std::getline(file, line)) {
    if (!pending.empty()) {
      pending += "\n" + line;
    } else {
      size_t start = line.find_first_not_of(' ');
      if (start < 4 || start == std::string::npos) continue;
      std::string code = line.substr(start);
      if (code.rfind("velctl ", 0) != 0 && code.rfind("build/tools/velctl ", 0) != 0) continue;
      pending = code;
    }
    if (pending.back() == '\\') continue;
    lines.push_back(pending);
    pending.clear();
  }
  return lines;
}

tev::test::ShellRun DryRun(const std::string& line) {
  std::string command = line.substr(line.find("velctl ") + 7);
  return tev::test::RunShell("cd " TEV_SOURCE_DIR " && " TEV_BINARY_DIR "/tools/velctl --dry-run " + command +
                             " 2>&1");
}

TEST(DocsCommands, EveryVelctlLineParses) {
  std::vector<std::string> services = VelctlLines(TEV_SOURCE_DIR "/docs/SERVICES.md");
  std::vector<std::string> readme = VelctlLines(TEV_SOURCE_DIR "/README.md");
  EXPECT_GE(services.size(), 30u);
  EXPECT_GE(readme.size(), 3u);
  services.insert(services.end(), readme.begin(), readme.end());
  for (const std::string& line : services) {
    tev::test::ShellRun run = DryRun(line);
    EXPECT_EQ(run.status, 0) << line << "\n" << run.output;
    // The request names its addressee and method.
    EXPECT_NE(run.output.find(' '), std::string::npos) << line << "\n" << run.output;
  }
}

TEST(DocsCommands, EveryServiceHasItsSection) {
  std::ifstream file(TEV_SOURCE_DIR "/docs/SERVICES.md");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const char* const services[] = {
      "ScheduleRecording", "CancelScheduledRecording", "RetrySchedule", "NotifyTVRecordFinished",
      "NotifyDeviceRecordFinished", "NotifyWebRecordFinished", "NotifyTVRecordStarted",
      "NotifyDeviceRecordStarted", "NotifyWebRecordStarted", "NotifyWebRecordStartedAsync",
      "NotifyWebRecordFailedAsync", "AddTevPass", "GetConflicts", "SetPVRConfig", "GetPVRConfig",
      "GetFileFromId", "GetFileInfoFromId", "GetFileListInfoFromId", "SetPVRVideoRecordingDirectory",
      "SetPVRAudioRecordingDirectory", "GetPVRVideoRecordingDirectory", "GetPVRAudioRecordingDirectory",
      "GetPVRDiskFreeSpaceRequired", "SetPVRDiskFreeSpaceRequired", "VideoThumbnailCallback",
      "NotifyThumbnailNeeded", "SetFilePlayPosition", "UpdateMedium", "GetPVRRecordPadding",
      "SetPVRRecordPadding"};
  for (const char* service : services) {
    bool headed = false;
    for (size_t at = text.find("\n### "); at != std::string::npos; at = text.find("\n### ", at + 1)) {
      std::string heading = text.substr(at, text.find('\n', at + 1) - at);
      if (heading.find(std::string(" ") + service) != std::string::npos) headed = true;
    }
    EXPECT_TRUE(headed) << service << " has no section";
  }
}

}  // namespace
