// The module's peers without a bus: requests are kept in order and answered by
// the method's script; without one, "no responders", as when nobody offers it.
#ifndef TEV_TESTS_COMMON_FAKEPEERS_H_
#define TEV_TESTS_COMMON_FAKEPEERS_H_

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "outbound/PeerClient.h"
#include "peers/Value.h"
#include "vel/VelSatellite.h"

namespace testpeers {

using tev::peers::Value;

class FakePeers : public PeerClient {
 public:
  static constexpr long kNotAnswered = VEL_NO_RESPONDERS;

  struct Sent {
    std::wstring addressee;
    std::wstring method;
    Value in;
  };

  // `serve` fills the reply and returns the single return code; it runs on
  // the requesting thread, under no lock.
  using Service = std::function<int32_t(const VARIANT& in, VARIANT* out)>;
  void Serve(const std::wstring& method, Service serve) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_[method] = std::move(serve);
  }
  std::vector<Sent> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  std::vector<Sent> Requests(const std::wstring& method) const {
    std::vector<Sent> found;
    for (const Sent& sent : Requests()) {
      if (sent.method == method) found.push_back(sent);
    }
    return found;
  }

  long Request(const std::wstring& addressee, const std::wstring& method, const VARIANT& in,
               VARIANT* out, VARIANT* retcodes) override {
    Record(addressee, method, in);
    return Reply(method, in, out, retcodes);
  }
  std::unique_ptr<Pending> Post(const std::wstring& addressee, const std::wstring& method,
                                const VARIANT& in) override {
    Record(addressee, method, in);
    return std::make_unique<Posted>(method, in);
  }
  long Collect(std::unique_ptr<Pending> posted, VARIANT* out, VARIANT* retcodes) override {
    auto* mine = dynamic_cast<Posted*>(posted.get());
    return mine ? Reply(mine->method, mine->in.get(), out, retcodes) : kNotAnswered;
  }
  bool Answered(const Pending&) override { return true; }

 private:
  struct Posted : Pending {
    Posted(std::wstring method, const VARIANT& in) : method(std::move(method)), in(in) {}
    std::wstring method;
    Value in;
  };

  void Record(const std::wstring& addressee, const std::wstring& method, const VARIANT& in) {
    Value copy(in);
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(Sent{addressee, method, std::move(copy)});
  }

  long Reply(const std::wstring& method, const VARIANT& in, VARIANT* out, VARIANT* retcodes) {
    Service serve;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = services_.find(method);
      if (found == services_.end()) return kNotAnswered;
      serve = found->second;
    }
    Value reply;
    const int32_t retcode = serve(in, reply.ptr());
    if (out != nullptr) reply.CopyTo(out);
    if (retcodes != nullptr) Value::LongArray({retcode}).CopyTo(retcodes);
    return 0;
  }

  mutable std::mutex mutex_;
  std::map<std::wstring, Service> services_;
  std::vector<Sent> sent_;
};

}  // namespace testpeers

#endif  // TEV_TESTS_COMMON_FAKEPEERS_H_
