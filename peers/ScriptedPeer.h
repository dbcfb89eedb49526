// A satellite that answers as a test (or a program) scripts it and records
// every request it receives. Each method answers through, in this order,
// its handler set with SetHandler, a canned reply set with SetReply, or the
// peer kind's default (DefaultReply; 0 with an empty out for the base).
//
// Threads: handlers run on the bus library's threads, possibly several at
// once; scripting and reading the record may happen meanwhile from any
// thread. A handler may throw VelException: the requester then gets a
// non-zero return code carrying its message.
#ifndef TEV_PEERS_SCRIPTEDPEER_H_
#define TEV_PEERS_SCRIPTEDPEER_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "peers/Value.h"
#include "vel/VelSatellite.h"

namespace tev {
namespace peers {

typedef std::function<int(const VARIANT& in, VARIANT* out)> Handler;

struct ReceivedRequest {
  std::wstring method;
  Value in;
};

class ScriptedPeer : public VelSatellite {
 public:
  ScriptedPeer(const std::wstring& name, const std::vector<std::wstring>& methods);
  // Leaves the bus before the members go.
  ~ScriptedPeer() override;

  // Joins the bus at `host` ("host:port") under the peer's name; 0 = joined.
  long Join(const std::wstring& host);
  void Leave();

  const std::wstring& Name() const { return name_; }

  // Scripting; replaces what the method had.
  void SetHandler(const std::wstring& method, Handler handler);
  void SetReply(const std::wstring& method, int code, const Value& out = Value());
  // Back to the default reply.
  void ResetReply(const std::wstring& method);

  // The record, oldest first.
  std::vector<ReceivedRequest> Requests() const;
  std::vector<Value> RequestsOf(const std::wstring& method) const;
  size_t CountOf(const std::wstring& method) const;
  // Waits until at least `count` requests of `method` arrived or
  // `timeoutMs` passed; true when they did.
  bool WaitFor(const std::wstring& method, size_t count, int timeoutMs) const;
  void ClearRequests();
  // On by default. Off, nothing is recorded (the record and the waits
  // above see nothing new): a benchmark's stand-in then costs what a peer
  // answering does, not what the tests' bookkeeping does.
  void KeepRequests(bool keep);

 protected:
  void DefineServices() override;
  virtual int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out);

 private:
  int Dispatch(const std::wstring& method, const VARIANT& in, VARIANT* out);

  // Constant after construction.
  const std::wstring name_;
  const std::vector<std::wstring> methods_;

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::wstring, Handler> handlers_;
  std::vector<ReceivedRequest> received_;
  bool keep_ = true;
};

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_SCRIPTEDPEER_H_
