#include "peers/ScriptedPeer.h"

#include <chrono>
#include <utility>

namespace tev {
namespace peers {

namespace {

class MethodDelegate : public VelSatelliteDelegateGeneric {
 public:
  explicit MethodDelegate(std::function<int(const std::wstring&, const VARIANT&, VARIANT*)> fn)
      : fn_(std::move(fn)) {}
  int invoke(const std::wstring& method, const VARIANT& in, VARIANT* out) override {
    return fn_(method, in, out);
  }

 private:
  std::function<int(const std::wstring&, const VARIANT&, VARIANT*)> fn_;
};

}  // namespace

ScriptedPeer::ScriptedPeer(const std::wstring& name, const std::vector<std::wstring>& methods)
    : name_(name), methods_(methods) {}

ScriptedPeer::~ScriptedPeer() { Disconnect(); }

long ScriptedPeer::Join(const std::wstring& host) { return Connect(host, name_); }

void ScriptedPeer::Leave() { Disconnect(); }

void ScriptedPeer::DefineServices() {
  for (const std::wstring& method : methods_) {
    // The method is bound here: what the library passes along is not
    // relied on.
    AddService(method, method,
               new MethodDelegate([this, method](const std::wstring&, const VARIANT& in,
                                                 VARIANT* out) { return Dispatch(method, in, out); }));
  }
}

void ScriptedPeer::SetHandler(const std::wstring& method, Handler handler) {
  std::lock_guard<std::mutex> hold(mutex_);
  handlers_[method] = std::move(handler);
}

void ScriptedPeer::SetReply(const std::wstring& method, int code, const Value& out) {
  SetHandler(method, [code, out](const VARIANT&, VARIANT* reply) {
    out.CopyTo(reply);
    return code;
  });
}

void ScriptedPeer::ResetReply(const std::wstring& method) {
  std::lock_guard<std::mutex> hold(mutex_);
  handlers_.erase(method);
}

std::vector<ReceivedRequest> ScriptedPeer::Requests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return received_;
}

std::vector<Value> ScriptedPeer::RequestsOf(const std::wstring& method) const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Value> found;
  for (const ReceivedRequest& request : received_) {
    if (request.method == method) found.push_back(request.in);
  }
  return found;
}

size_t ScriptedPeer::CountOf(const std::wstring& method) const {
  std::lock_guard<std::mutex> hold(mutex_);
  size_t count = 0;
  for (const ReceivedRequest& request : received_) count += request.method == method ? 1 : 0;
  return count;
}

bool ScriptedPeer::WaitFor(const std::wstring& method, size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> hold(mutex_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
    size_t seen = 0;
    for (const ReceivedRequest& request : received_) seen += request.method == method ? 1 : 0;
    return seen >= count;
  });
}

void ScriptedPeer::ClearRequests() {
  std::lock_guard<std::mutex> hold(mutex_);
  received_.clear();
}

void ScriptedPeer::KeepRequests(bool keep) {
  std::lock_guard<std::mutex> hold(mutex_);
  keep_ = keep;
}

int ScriptedPeer::DefaultReply(const std::wstring&, const VARIANT&, VARIANT*) { return 0; }

int ScriptedPeer::Dispatch(const std::wstring& method, const VARIANT& in, VARIANT* out) {
  Handler handler;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (keep_) received_.push_back(ReceivedRequest{method, Value(in)});
    auto found = handlers_.find(method);
    if (found != handlers_.end()) handler = found->second;
  }
  arrived_.notify_all();
  return handler ? handler(in, out) : DefaultReply(method, in, out);
}

}  // namespace peers
}  // namespace tev
