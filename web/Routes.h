// The HTTP routes of tev-web, one group per page, all reading and changing
// the module through the bus (WebContext). Handlers run on the server's
// threads, concurrently.
#ifndef TEV_WEB_ROUTES_H_
#define TEV_WEB_ROUTES_H_

#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "web/BusLink.h"
#include "web/ChannelLineup.h"
#include "web/EventHub.h"
#include "web/GuideCache.h"
#include "web/LibraryWatch.h"

namespace web {

struct WebContext {
  BusLink& bus;
  LibraryWatch& library;
  EventHub& events;
  GuideCache& guide;
  ChannelLineup& channels;
};

// The user name on the module's requests.
extern const char kWebUser[];

// GET /api/guide?from=&to= (UTC s: the programmes on air within [from, to)),
// /api/guide/search?title=&from=&to= (default: the seven days from the
// start of today); POST /api/schedules, /api/passes.
void AddGuideRoutes(httplib::Server& server, WebContext& context);
// GET /api/channels (the line-up: id, name, number, group, logo);
// GET /api/channels/ID/logo (the channel's logo, fetched by tev-web).
void AddChannelRoutes(httplib::Server& server, WebContext& context);
// GET /api/status, /api/upcoming, /api/recordings, /api/passes;
// POST /api/media/ID/{skip,unskip,cancel}; PATCH and DELETE /api/media/ID.
void AddMediaRoutes(httplib::Server& server, WebContext& context);
// PATCH and DELETE /api/passes/ID.
void AddPassRoutes(httplib::Server& server, WebContext& context);
// GET /api/media/ID/{file,thumbnail,info}; PUT /api/media/ID/position.
void AddFileRoutes(httplib::Server& server, WebContext& context);
// GET and PUT /api/settings.
void AddSettingsRoutes(httplib::Server& server, WebContext& context);
// GET /api/events: the server-sent event stream.
void AddEventRoutes(httplib::Server& server, WebContext& context);
// GET / and the page's files. The page opens on today's guide, so serving
// it starts asking the guide for the hours around now.
void AddStaticRoutes(httplib::Server& server, WebContext& context);

// The medium `id` of the library's current list (listing again once when it
// is not there); false with a 404 reply when there is none.
bool FindMedium(WebContext& context, const std::string& id, httplib::Response& res,
                nlohmann::json* medium);

}  // namespace web

#endif  // TEV_WEB_ROUTES_H_
