// Events for the page's server-sent event stream: each has a sequence
// number, a name and JSON data. The hub keeps the last few so that a stream
// that reconnects with Last-Event-ID misses nothing recent.
//
// Threads: any thread publishes; each stream waits on its own server thread.
#ifndef TEV_WEB_EVENTHUB_H_
#define TEV_WEB_EVENTHUB_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace web {

struct Event {
  uint64_t sequence = 0;
  std::string name;
  nlohmann::json data;
};

class EventHub {
 public:
  void Publish(const std::string& name, const nlohmann::json& data);
  // The events after `sequence`, waiting up to `waitMs` for one when there
  // are none. Empty on timeout or once closed.
  std::vector<Event> After(uint64_t sequence, int waitMs);
  uint64_t LastSequence() const;
  // Wakes every waiting stream for good (shutdown).
  void Close();
  bool Closed() const;

  // "id: N\nevent: NAME\ndata: JSON\n\n".
  static std::string Format(const Event& event);

 private:
  static const size_t kKept = 256;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Event> recent_;  // guarded by mu_
  uint64_t last_ = 0;         // guarded by mu_
  bool closed_ = false;       // guarded by mu_
};

}  // namespace web

#endif  // TEV_WEB_EVENTHUB_H_
