// tev-web assembled: the bus link, the library watch, the event hub and
// the HTTP server with its guard and routes.
//
// Threads: Run blocks the caller until Shutdown (from any thread, e.g. a
// signal-waiting one).
#ifndef TEV_WEB_WEBSERVER_H_
#define TEV_WEB_WEBSERVER_H_

#include <memory>
#include <string>

#include <httplib.h>

#include "web/BusLink.h"
#include "web/EventHub.h"
#include "web/ChannelLineup.h"
#include "web/GuideCache.h"
#include "web/LibraryWatch.h"
#include "web/RequestGuard.h"
#include "web/Routes.h"
#include "web/ServerOptions.h"

namespace web {

class WebServer {
 public:
  WebServer(const ServerOptions& options, const ListenAddress& address, const std::string& password);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address; false with *error when it cannot.
  bool Bind(std::string* error);
  // Joins the bus and serves until Shutdown.
  void Run();
  void Shutdown();

 private:
  const ListenAddress address_;
  EventHub events_;
  BusLink bus_;  // its broadcasts poke library_, which exists by the time it joins
  LibraryWatch library_;
  GuideCache guide_;
  ChannelLineup channels_;
  RequestGuard guard_;
  WebContext context_;
  httplib::Server http_;
};

}  // namespace web

#endif  // TEV_WEB_WEBSERVER_H_
