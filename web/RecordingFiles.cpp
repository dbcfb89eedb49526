#include "web/RecordingFiles.h"

#include <sys/stat.h>

#include <algorithm>

#include "tools/velctl_media.h"

namespace web {

namespace {

using nlohmann::json;

const size_t kIdsPerRequest = 1000;  // the module takes no more at once

// "path" of one description: [[name, value]...].
std::string PathOf(const json& description) {
  if (!description.is_array()) return std::string();
  for (const json& pair : description) {
    if (pair.is_array() && pair.size() == 2 && pair[0] == "path") return velctl::TextOf(pair[1]);
  }
  return std::string();
}

}  // namespace

std::string ThumbnailBeside(const std::string& recordingPath) { return recordingPath + ".jpg"; }

void AddFileFacts(BusLink& bus, std::vector<json>* media) {
  std::vector<json*> recordings;
  for (json& medium : *media) {
    if (medium["kind"] == "recording" || medium["state"] == "recording") recordings.push_back(&medium);
  }
  for (size_t from = 0; from < recordings.size(); from += kIdsPerRequest) {
    const size_t to = std::min(recordings.size(), from + kIdsPerRequest);
    json ids = json::array();
    for (size_t i = from; i < to; ++i) ids.push_back((*recordings[i])["id"]);
    velctl::Answer answer = bus.Call("ZoVIZ", "GetFileListInfoFromId", ids);
    if (answer.exit != velctl::kOk || !answer.out.is_array() || answer.out.size() != to - from) return;
    for (size_t i = from; i < to; ++i) {
      json& medium = *recordings[i];
      const std::string path = PathOf(answer.out[i - from]);
      struct stat file {};
      const bool onDisk = !path.empty() && stat(path.c_str(), &file) == 0 && S_ISREG(file.st_mode);
      medium["onDisk"] = onDisk;
      if (onDisk) medium["size"] = static_cast<long long>(file.st_size);
      struct stat picture {};
      const bool thumbnail = onDisk && stat(ThumbnailBeside(path).c_str(), &picture) == 0 && picture.st_size > 0;
      medium["thumbnail"] = medium["thumbnail"] == true || thumbnail;
    }
  }
}

}  // namespace web
