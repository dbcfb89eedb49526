// What the disk says about the recordings of a listing: the module names
// each recording's file (GetFileListInfoFromId, one request for up to 1,000
// recordings), and tev-web, running beside it, looks at the file and at the
// thumbnail the thumbnail service writes next to it ("<file>.jpg"). The
// library's own "size" and "thumbnailId" lag behind: they are published
// with the medium, before the file is finished.
#ifndef TEV_WEB_RECORDINGFILES_H_
#define TEV_WEB_RECORDINGFILES_H_

#include <vector>

#include <nlohmann/json.hpp>

#include "web/BusLink.h"

namespace web {

// Sets "onDisk", "size" and "thumbnail" of every recording in `media`. A
// failed request leaves them as the library said.
void AddFileFacts(BusLink& bus, std::vector<nlohmann::json>* media);

// The thumbnail file beside a recording's file.
std::string ThumbnailBeside(const std::string& recordingPath);

}  // namespace web

#endif  // TEV_WEB_RECORDINGFILES_H_
