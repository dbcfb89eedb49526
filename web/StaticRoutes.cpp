// GET / and GET /static/NAME: the page itself, from the files compiled in.
#include "web/Routes.h"
#include "web/StaticAssets.h"

namespace web {

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
  const std::string tail = suffix;
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void ReplyAsset(const std::string& name, httplib::Response& res) {
  const StaticAsset* asset = FindStaticAsset(name);
  if (asset == nullptr) {
    res.status = 404;
    res.set_content("no such file", "text/plain");
    return;
  }
  res.set_header("Cache-Control", "no-cache");
  res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, ContentTypeOf(name));
}

}  // namespace

const char* ContentTypeOf(const std::string& name) {
  if (EndsWith(name, ".html")) return "text/html; charset=utf-8";
  if (EndsWith(name, ".js")) return "text/javascript; charset=utf-8";
  if (EndsWith(name, ".css")) return "text/css; charset=utf-8";
  if (EndsWith(name, ".svg")) return "image/svg+xml";
  if (EndsWith(name, ".png")) return "image/png";
  return "application/octet-stream";
}

void AddStaticRoutes(httplib::Server& server) {
  server.Get("/", [](const httplib::Request&, httplib::Response& res) { ReplyAsset("index.html", res); });
  server.Get("/static/([A-Za-z0-9_-]{1,64}\\.[a-z]{1,5})",
             [](const httplib::Request& req, httplib::Response& res) { ReplyAsset(req.matches[1], res); });
}

}  // namespace web
