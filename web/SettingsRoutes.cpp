// The Settings page: recording folders, padding, the space kept free, and
// how much the recording volume has left.
#include <sys/statvfs.h>

#include "tools/velctl_media.h"
#include "web/HttpJson.h"
#include "web/Routes.h"

namespace web {

namespace {

using nlohmann::json;

void Show(WebContext& context, httplib::Response& res) {
  static const std::pair<const char*, const char*> kRead[] = {
      {"padding", "GetPVRRecordPadding"},
      {"freeSpaceMB", "GetPVRDiskFreeSpaceRequired"},
      {"videoDir", "GetPVRVideoRecordingDirectory"},
      {"audioDir", "GetPVRAudioRecordingDirectory"},
  };
  json settings;
  for (const auto& read : kRead) {
    velctl::Answer answer = context.bus.Call("ZoVIZ", read.second);
    if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
    settings[read.first] = answer.out;
  }
  // The volume is read here: tev-web runs beside the module.
  const std::string folder = velctl::TextOf(settings["videoDir"]);
  struct statvfs volume {};
  if (!folder.empty() && statvfs(folder.c_str(), &volume) == 0) {
    settings["volume"] = {{"folder", folder},
                          {"freeBytes", static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize},
                          {"totalBytes", static_cast<unsigned long long>(volume.f_blocks) * volume.f_frsize}};
  } else {
    settings["volume"] = nullptr;
  }
  ReplyJson(res, settings);
}

void Change(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json body;
  long long padding = -1, freeSpace = -1;
  std::string videoDir, audioDir;
  if (!ReadBody(req, res, &body) || !IntegerMember(body, "padding", res, &padding, 0, 3600, true) ||
      !IntegerMember(body, "freeSpaceMB", res, &freeSpace, 0, 100000000, true) ||
      !TextMember(body, "videoDir", res, &videoDir, true) || !TextMember(body, "audioDir", res, &audioDir, true)) {
    return;
  }
  // Folders first: the module checks them, and a refused folder changes nothing else.
  std::vector<std::pair<const char*, json>> calls;
  if (!videoDir.empty()) calls.emplace_back("SetPVRVideoRecordingDirectory", videoDir);
  if (!audioDir.empty()) calls.emplace_back("SetPVRAudioRecordingDirectory", audioDir);
  if (padding >= 0) calls.emplace_back("SetPVRRecordPadding", padding);
  if (freeSpace >= 0) calls.emplace_back("SetPVRDiskFreeSpaceRequired", freeSpace);
  if (calls.empty()) return ReplyError(res, 400, "nothing to change");
  for (const auto& call : calls) {
    velctl::Answer answer = context.bus.Call("ZoVIZ", call.first, call.second);
    if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  }
  Show(context, res);
}

}  // namespace

void AddSettingsRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/api/settings", [&context](const httplib::Request&, httplib::Response& res) { Show(context, res); });
  server.Put("/api/settings", [&context](const httplib::Request& req, httplib::Response& res) {
    Change(context, req, res);
  });
}

}  // namespace web
