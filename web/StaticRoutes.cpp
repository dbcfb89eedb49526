// GET / and GET /static/NAME: the page itself, from the files compiled in.
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "web/Routes.h"
#include "web/StaticAssets.h"

namespace web {

namespace {

const int64_t kWarmBefore = 3600;
const int64_t kWarmAfter = 7 * 3600;

bool EndsWith(const std::string& text, const char* suffix) {
  const std::string tail = suffix;
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The files' tag: they change only with the program.
std::string ETagOf(const StaticAsset& asset) {
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (size_t i = 0; i < asset.size; ++i) hash = (hash ^ asset.data[i]) * 1099511628211ULL;
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

void ReplyAsset(const std::string& name, const httplib::Request& req, httplib::Response& res) {
  const StaticAsset* asset = FindStaticAsset(name);
  if (asset == nullptr) {
    res.status = 404;
    res.set_content("no such file", "text/plain");
    return;
  }
  const std::string etag = ETagOf(*asset);
  res.set_header("Cache-Control", "no-cache");
  res.set_header("ETag", etag);
  if (req.get_header_value("If-None-Match") == etag) {
    res.status = 304;
    return;
  }
  // Given as a provider so that httplib sends the bytes as they are: it
  // would brotli-compress every text file at its slowest setting on every
  // request, tens of milliseconds each, for a few kilobytes saved.
  res.set_content_provider(asset->size, ContentTypeOf(name),
                           [asset](size_t offset, size_t length, httplib::DataSink& sink) {
                             sink.write(reinterpret_cast<const char*>(asset->data) + offset, length);
                             return true;
                           });
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

void AddStaticRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/", [&context](const httplib::Request& req, httplib::Response& res) {
    // What the guide shows first: from half an hour ago over a wide screen.
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    context.guide.Warm(now - kWarmBefore, now + kWarmAfter);
    ReplyAsset("index.html", req, res);
  });
  server.Get("/static/([A-Za-z0-9_-]{1,64}\\.[a-z]{1,5})",
             [](const httplib::Request& req, httplib::Response& res) { ReplyAsset(req.matches[1], req, res); });
}

}  // namespace web
