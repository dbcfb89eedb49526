#include "web/BusLink.h"

#include <chrono>
#include <utility>

namespace web {

BusLink::BusLink(const velctl::BusOptions& options,
                 std::function<void(const std::string&)> onBroadcast)
    : options_(options), onBroadcast_(std::move(onBroadcast)) {
  joinError_ = "joining the bus at " + options_.host;
}

BusLink::~BusLink() { Stop(); }

void BusLink::Start() { joiner_ = std::thread([this] { JoinLoop(); }); }

void BusLink::Stop() {
  std::shared_ptr<velctl::Bus> bus;
  {
    std::lock_guard<std::mutex> hold(mu_);
    stopping_ = true;
    bus.swap(bus_);
    joinError_ = "tev-web is stopping";
  }
  wake_.notify_all();
  if (joiner_.joinable()) joiner_.join();
  // Requests still holding the bus finish first; the last owner leaves it.
  bus.reset();
}

void BusLink::JoinLoop() {
  for (;;) {
    auto bus = std::make_shared<velctl::Bus>(options_);
    for (const char* method : {"NotifyStartRecording", "NotifyStopRecording", "NotifyPVRRecordingChange"}) {
      const std::string name = method;
      // A copy: the bus may outlive this object by a request in flight.
      bus->Offer(name, [notify = onBroadcast_, name](const nlohmann::json&) {
        notify(name);
        return 0;
      });
    }
    std::string error;
    const bool joined = bus->Join(&error);
    std::unique_lock<std::mutex> hold(mu_);
    if (stopping_) return;
    if (joined) {
      bus_ = bus;
      joinError_.clear();
      return;
    }
    joinError_ = error;
    hold.unlock();
    bus.reset();
    hold.lock();
    wake_.wait_for(hold, std::chrono::seconds(1), [this] { return stopping_; });
    if (stopping_) return;
  }
}

velctl::Answer BusLink::Call(const std::string& addressee, const std::string& method,
                             const nlohmann::json& params) {
  std::shared_ptr<velctl::Bus> bus;
  std::string why;
  {
    std::lock_guard<std::mutex> hold(mu_);
    bus = bus_;
    why = joinError_;
  }
  if (!bus) {
    velctl::Answer answer;
    answer.exit = velctl::kBusFailure;
    answer.busResult = 1;
    answer.error = why;
    return answer;
  }
  return bus->Call(addressee, method, params);
}

bool BusLink::Joined() const {
  std::lock_guard<std::mutex> hold(mu_);
  return bus_ != nullptr;
}

std::string BusLink::JoinError() const {
  std::lock_guard<std::mutex> hold(mu_);
  return joinError_;
}

}  // namespace web
