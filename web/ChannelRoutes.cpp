// The line-up beside the guide: every channel's row, number and logo.
#include "web/ChannelLineup.h"
#include "web/HttpJson.h"
#include "web/Routes.h"

namespace web {

namespace {

using nlohmann::json;

void Lineup(WebContext& context, httplib::Response& res) {
  std::vector<LineupChannel> channels;
  velctl::Answer failed;
  if (!context.channels.Channels(&channels, &failed)) return ReplyFailure(res, failed);
  json list = json::array();
  for (const LineupChannel& c : channels) {
    WebUrl url;
    const bool logo = ParseWebUrl(c.logoUrl, &url);
    list.push_back({{"id", c.id}, {"name", c.name}, {"number", c.number}, {"group", c.group},
                    {"mimeType", c.mimeType},
                    {"logo", logo ? "/api/channels/" + PercentEncoded(c.id) + "/logo" : std::string()}});
  }
  ReplyJson(res, {{"channels", list}});
}

void LogoImage(WebContext& context, const std::string& id, httplib::Response& res) {
  const Logo logo = context.channels.LogoOf(id);
  if (logo.bytes.empty()) return ReplyError(res, 404, logo.problem);
  res.set_content(logo.bytes, logo.contentType.c_str());
  res.set_header("Cache-Control", "max-age=86400");
}

}  // namespace

void AddChannelRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/api/channels", [&context](const httplib::Request&, httplib::Response& res) { Lineup(context, res); });
  server.Get("/api/channels/([^/]{1,256})/logo", [&context](const httplib::Request& req, httplib::Response& res) {
    LogoImage(context, req.matches[1], res);
  });
}

}  // namespace web
