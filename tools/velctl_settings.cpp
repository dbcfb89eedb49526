// velctl settings: shows the recording settings, and changes those given.
#include <iostream>
#include <memory>

#include "tools/velctl_commands.h"
#include "tools/velctl_media.h"

namespace velctl {

namespace {

using nlohmann::json;

struct SettingsArguments {
  int padding = -1, freeSpace = -1;
  std::string videoDir, audioDir;
};

// Each setter takes one scalar value.
int Change(Bus& bus, const char* method, const json& value) {
  return Report(bus.Call("ZoVIZ", method, value));
}

int RunSettings(Bus& bus, const SettingsArguments& args) {
  int exit = kOk;
  if (args.padding >= 0) exit = Change(bus, "SetPVRRecordPadding", args.padding);
  if (exit == kOk && args.freeSpace >= 0) exit = Change(bus, "SetPVRDiskFreeSpaceRequired", args.freeSpace);
  if (exit == kOk && !args.videoDir.empty()) exit = Change(bus, "SetPVRVideoRecordingDirectory", args.videoDir);
  if (exit == kOk && !args.audioDir.empty()) exit = Change(bus, "SetPVRAudioRecordingDirectory", args.audioDir);
  if (exit != kOk) return exit;
  static const std::pair<const char*, const char*> kShown[] = {
      {"padding (s)", "GetPVRRecordPadding"},
      {"free space required (MB)", "GetPVRDiskFreeSpaceRequired"},
      {"video folder", "GetPVRVideoRecordingDirectory"},
      {"audio folder", "GetPVRAudioRecordingDirectory"},
  };
  for (const auto& shown : kShown) {
    Answer answer = bus.Call("ZoVIZ", shown.second);
    if (answer.exit != kOk) return Report(answer);
    if (!bus.DryRun()) std::cout << shown.first << ": " << TextOf(answer.out) << "\n";
  }
  return kOk;
}

}  // namespace

void AddSettingsCommand(CLI::App& app, Command* command) {
  auto args = std::make_shared<SettingsArguments>();
  CLI::App* settings = app.add_subcommand(
      "settings", "show the recording settings; change those given first");
  settings->fallthrough();
  settings->add_option("--padding", args->padding,
                       "seconds recorded before each start and after each end (module default 30)")
      ->check(CLI::NonNegativeNumber);
  settings->add_option("--free-space", args->freeSpace,
                       "megabytes kept free on the recording volume (module default 200)")
      ->check(CLI::NonNegativeNumber);
  settings->add_option("--video-dir", args->videoDir, "folder for video recordings");
  settings->add_option("--audio-dir", args->audioDir, "folder for audio recordings");
  settings->callback([=]() { command->run = [=](Bus& bus) { return RunSettings(bus, *args); }; });
}

}  // namespace velctl
