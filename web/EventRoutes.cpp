// GET /api/events: server-sent events for the page. The stream opens with
// the current status; a stream that comes back with Last-Event-ID gets
// what it missed, as far as the hub still holds it.
#include <cstdlib>

#include "web/Routes.h"

namespace web {

namespace {

const int kKeepAliveMs = 15000;

}  // namespace

void AddEventRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/api/events", [&context](const httplib::Request& req, httplib::Response& res) {
    uint64_t from = context.events.LastSequence();
    if (req.has_header("Last-Event-ID")) {
      from = std::strtoull(req.get_header_value("Last-Event-ID").c_str(), nullptr, 10);
      if (from > context.events.LastSequence()) from = context.events.LastSequence();
    }
    std::shared_ptr<const LibraryView> view = context.library.Current();
    auto opening = std::make_shared<std::string>(EventHub::Format(
        Event{from, "status", {{"ok", view->ok}, {"message", view->message}}}));
    auto last = std::make_shared<uint64_t>(from);
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream", [&context, opening, last](size_t, httplib::DataSink& sink) {
          if (!opening->empty()) {
            std::string first;
            first.swap(*opening);
            return sink.write(first.data(), first.size());
          }
          std::vector<Event> events = context.events.After(*last, kKeepAliveMs);
          if (context.events.Closed()) {
            sink.done();
            return false;
          }
          std::string text = events.empty() ? std::string(": keep-alive\n\n") : std::string();
          for (const Event& event : events) {
            text += EventHub::Format(event);
            *last = event.sequence;
          }
          return sink.write(text.data(), text.size());
        });
  });
}

}  // namespace web
