// tev-web's place on the bus: one velctl connection, joined in the
// background and joined again while the bus server is away at start, so
// that the page is served (with a clear message) before the bus is there.
//
// The module's broadcasts (NotifyStartRecording, NotifyStopRecording,
// NotifyPVRRecordingChange) reach `onBroadcast` with the method's name.
//
// Threads: Call from any thread, concurrently; onBroadcast runs on the bus
// library's threads; Start and Stop on the owner's.
#ifndef TEV_WEB_BUSLINK_H_
#define TEV_WEB_BUSLINK_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/velctl_bus.h"

namespace web {

class BusLink {
 public:
  BusLink(const velctl::BusOptions& options, std::function<void(const std::string&)> onBroadcast);
  ~BusLink();
  BusLink(const BusLink&) = delete;
  BusLink& operator=(const BusLink&) = delete;

  // Starts joining; returns at once.
  void Start();
  // Leaves the bus; Call answers a bus failure afterwards.
  void Stop();

  // One request. Before the bus is joined: kBusFailure with a sentence.
  velctl::Answer Call(const std::string& addressee, const std::string& method,
                      const nlohmann::json& params = nlohmann::json());
  bool Joined() const;
  // Why the bus is not joined (empty once joined).
  std::string JoinError() const;

 private:
  void JoinLoop();

  // Constant after construction.
  velctl::BusOptions options_;
  std::function<void(const std::string&)> onBroadcast_;

  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::shared_ptr<velctl::Bus> bus_;  // guarded by mu_; null until joined
  std::string joinError_;             // guarded by mu_
  bool stopping_ = false;             // guarded by mu_
  std::thread joiner_;
};

}  // namespace web

#endif  // TEV_WEB_BUSLINK_H_
