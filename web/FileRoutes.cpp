// A recording's file (download, with byte ranges), its thumbnail, its
// details and the position a player reached.
#include "tools/velctl_media.h"
#include "web/FileReply.h"
#include "web/HttpJson.h"
#include "web/RecordingFiles.h"
#include "web/Routes.h"

namespace web {

namespace {

using nlohmann::json;

// The module's [path, mime type] of a recording or a thumbnail id.
bool FileOf(WebContext& context, const std::string& fileId, httplib::Response& res, std::string* path,
            std::string* mimeType) {
  velctl::Answer answer = context.bus.Call("ZoVIZ", "GetFileFromId", json::array({std::string(kWebUser), fileId}));
  if (answer.exit == velctl::kRefused && (answer.ret == 103 || answer.ret == 109)) {
    ReplyError(res, 404, answer.error);
    return false;
  }
  if (answer.exit != velctl::kOk) {
    ReplyFailure(res, answer);
    return false;
  }
  if (!answer.out.is_array() || answer.out.size() < 2) {
    ReplyError(res, 502, "the module answered no file for " + fileId);
    return false;
  }
  *path = velctl::TextOf(answer.out[0]);
  *mimeType = velctl::TextOf(answer.out[1]);
  if (mimeType->empty()) *mimeType = "application/octet-stream";
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Download(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium;
  std::string path, mimeType;
  if (!FindMedium(context, req.matches[1], res, &medium) || !FileOf(context, medium["id"], res, &path, &mimeType)) {
    return;
  }
  ReplyFile(res, path, mimeType, BaseName(path));
}

void Thumbnail(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium;
  if (!FindMedium(context, req.matches[1], res, &medium)) return;
  // The module names the thumbnail by its "RT" id once the library has
  // it; until then it lies beside the recording.
  const std::string thumbnailId = medium.value("thumbnailId", std::string());
  std::string path, mimeType;
  if (thumbnailId.rfind("RT", 0) == 0) {
    if (FileOf(context, thumbnailId, res, &path, &mimeType)) ReplyFile(res, path, mimeType, "");
    return;
  }
  if (FileOf(context, medium["id"], res, &path, &mimeType)) ReplyFile(res, ThumbnailBeside(path), "image/jpeg", "");
}

void Info(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium;
  if (!FindMedium(context, req.matches[1], res, &medium)) return;
  velctl::Answer answer = context.bus.Call("ZoVIZ", "GetFileInfoFromId", json::array({std::string(kWebUser), medium["id"]}));
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  // Name/value pairs, as a JSON object.
  json info = json::object();
  if (answer.out.is_array()) {
    for (const json& pair : answer.out) {
      if (pair.is_array() && pair.size() == 2 && pair[0].is_string()) info[pair[0].get<std::string>()] = pair[1];
    }
  }
  ReplyJson(res, info);
}

void Position(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium, body;
  long long seconds = 0;
  if (!FindMedium(context, req.matches[1], res, &medium) || !ReadBody(req, res, &body) ||
      !IntegerMember(body, "seconds", res, &seconds, 0, 0x7fffffff)) {
    return;
  }
  velctl::Answer answer = context.bus.Call(
      "ZoVIZ", "SetFilePlayPosition", json::array({std::string(kWebUser), medium["id"], static_cast<int>(seconds)}));
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  ReplyJson(res, {{"done", true}});
}

}  // namespace

void AddFileRoutes(httplib::Server& server, WebContext& context) {
  const std::string id = "/api/media/([A-Za-z0-9_.-]{1,64})";
  server.Get(id + "/file", [&context](const httplib::Request& req, httplib::Response& res) {
    Download(context, req, res);
  });
  server.Get(id + "/thumbnail", [&context](const httplib::Request& req, httplib::Response& res) {
    Thumbnail(context, req, res);
  });
  server.Get(id + "/info", [&context](const httplib::Request& req, httplib::Response& res) {
    Info(context, req, res);
  });
  server.Put(id + "/position", [&context](const httplib::Request& req, httplib::Response& res) {
    Position(context, req, res);
  });
}

}  // namespace web
