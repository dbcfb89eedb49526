#include "web/WebServer.h"

#include <chrono>

namespace web {

namespace {

const size_t kThreads = 32;  // event streams hold a thread each
const size_t kMaxBody = 1 << 20;
// The guide changes once a day or so; a page scrolling through it asks for
// the same hours again and again.
const int64_t kGuideKeepMs = 2 * 60 * 1000;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

WebServer::WebServer(const ServerOptions& options, const ListenAddress& address, const std::string& password)
    : address_(address),
      bus_(options.bus, [this](const std::string&) { library_.Poke(); }),
      library_(bus_, events_, options.pollMs),
      guide_(bus_, SteadyMs, kGuideKeepMs),
      channels_(bus_, SteadyMs),
      guard_(password, IsLoopback(address.host) ? RequestGuard::LoopbackHosts(address.port, options.allowHosts)
                                                : std::set<std::string>()),
      context_{bus_, library_, events_, guide_, channels_} {
  http_.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  http_.set_payload_max_length(kMaxBody);
  http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return guard_.Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                  : httplib::Server::HandlerResponse::Handled;
  });
  http_.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; object-src 'none'; frame-ancestors 'none'");
    res.set_header("Referrer-Policy", "same-origin");
  });
  AddGuideRoutes(http_, context_);
  AddChannelRoutes(http_, context_);
  AddMediaRoutes(http_, context_);
  AddPassRoutes(http_, context_);
  AddFileRoutes(http_, context_);
  AddSettingsRoutes(http_, context_);
  AddEventRoutes(http_, context_);
  AddStaticRoutes(http_, context_);
}

WebServer::~WebServer() { Shutdown(); }

bool WebServer::Bind(std::string* error) {
  if (!http_.bind_to_port(address_.host.c_str(), address_.port)) {
    *error = "cannot listen on " + address_.host + ":" + std::to_string(address_.port) +
             " (in use, or not an address of this machine)";
    return false;
  }
  return true;
}

void WebServer::Run() {
  bus_.Start();
  library_.Start();
  http_.listen_after_bind();
}

void WebServer::Shutdown() {
  events_.Close();  // event streams end, so their threads are free
  http_.stop();
  library_.Stop();
  bus_.Stop();
}

}  // namespace web
