#include "web/EventHub.h"

#include <chrono>

namespace web {

void EventHub::Publish(const std::string& name, const nlohmann::json& data) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    recent_.push_back(Event{++last_, name, data});
    if (recent_.size() > kKept) recent_.pop_front();
  }
  changed_.notify_all();
}

std::vector<Event> EventHub::After(uint64_t sequence, int waitMs) {
  std::unique_lock<std::mutex> hold(mu_);
  changed_.wait_for(hold, std::chrono::milliseconds(waitMs),
                    [&] { return closed_ || last_ > sequence; });
  std::vector<Event> events;
  if (closed_) return events;
  for (const Event& event : recent_) {
    if (event.sequence > sequence) events.push_back(event);
  }
  return events;
}

uint64_t EventHub::LastSequence() const {
  std::lock_guard<std::mutex> hold(mu_);
  return last_;
}

void EventHub::Close() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool EventHub::Closed() const {
  std::lock_guard<std::mutex> hold(mu_);
  return closed_;
}

std::string EventHub::Format(const Event& event) {
  // dump() escapes line ends, so the data stays on one line.
  return "id: " + std::to_string(event.sequence) + "\nevent: " + event.name +
         "\ndata: " + event.data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n\n";
}

}  // namespace web
