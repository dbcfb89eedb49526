#include "vel/VelSatellite.h"

#include <nats/nats.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/WideText.h"
#include "support/BBLog.h"
#include "support/Log.h"
#include "support/PMutex.h"
#include "vel/BusCredentials.h"
#include "vel/ReplyInboxes.h"
#include "vel/Subjects.h"
#include "vel/WireCodec.h"

namespace {

// A thread that waits for an answer while it holds the engine lock (an
// open transaction holds it too) stalls the timer and every service for as
// long as the peer takes, and a peer that calls back into the module waits
// for the lock the caller holds. Logged always; with TEV_STRICT_LOCKS set
// (the tests set it) the process stops at the request that did it.
void CheckNoEngineLockWhileWaiting(const std::wstring& addressee, const std::wstring& method) {
  if (!PMutex::CallingThreadHoldsNoWaitLock()) return;
  LogError(L"Vel: %ls to %ls is waited for while the engine lock is held", method.c_str(),
           addressee.c_str());
  static const bool strict = std::getenv("TEV_STRICT_LOCKS") != nullptr;
  if (strict) {
    std::fprintf(stderr, "TEV_STRICT_LOCKS: %s to %s waited for while the engine lock is held\n",
                 tev::ToStdUtf8(method).c_str(), tev::ToStdUtf8(addressee).c_str());
    std::abort();
  }
}

const int kDefaultRequestTimeoutMs = 30000;
const int kConnectTimeoutMs = 2000;
const int kReconnectWaitMs = 250;
const int kDrainWaitMs = 5000;
const int kDefaultPort = 4222;
// Handlers running at once per satellite: enough that a request waiting on
// a slow or dead peer delays only the requests that wait for it.
const size_t kHandlerThreads = 16;

// The connections of this library copy: how many are not destroyed yet
// (ReleaseLibrary lets libnats go only at none), and those whose closed
// callback has run. Process-wide because the callbacks run on a thread of
// libnats and may come after the satellite is gone.
class Connections {
 public:
  void Opened() { ++live_; }
  void Destroyed() { --live_; }
  int Live() const { return live_.load(); }

  void Closed(natsConnection* nc) {
    std::lock_guard<std::mutex> hold(mutex_);
    closed_.insert(nc);
    changed_.notify_all();
  }

  // Waits (bounded) until the closed callback of `nc` has run: libnats runs
  // a connection's callbacks in order on one thread, so none of ours is
  // left for it afterwards.
  void WaitForClosed(natsConnection* nc, int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                      [this, nc] { return closed_.count(nc) != 0; });
    closed_.erase(nc);
  }

 private:
  std::atomic<int> live_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<natsConnection*> closed_;
};

Connections g_connections;

void OnClosed(natsConnection* nc, void*) { g_connections.Closed(nc); }

std::wstring Widen(const char* text) { return tev::FromStdUtf8(text ? text : ""); }

// The NATS error text with the library's call stack, for the log.
std::wstring NatsError(natsStatus status) {
  char stack[512] = {0};
  nats_GetLastErrorStack(stack, sizeof stack);
  std::wstring text = Widen(natsStatus_GetText(status));
  if (stack[0]) text += L" (" + Widen(stack) + L")";
  return text;
}

std::string ServerUrl(std::string host) {
  if (host.empty()) host = "127.0.0.1";
  if (host.find("://") != std::string::npos) return host;
  // "host" or "host:port"; a bracketed IPv6 literal keeps its colons.
  size_t colon = host.rfind(':');
  bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos &&
                 host.find(':') == colon;
  if (host[0] == '[') hasPort = colon != std::string::npos && host[colon - 1] == ']';
  return "nats://" + host + (hasPort ? "" : ":" + std::to_string(kDefaultPort));
}

// The directory host is one server or a comma-separated list of the servers
// of a cluster ("a:4222, b:4222"); empty entries are skipped.
std::vector<std::string> ServerUrls(const std::wstring& directoryHost) {
  std::vector<std::string> urls;
  const std::string list = tev::ToStdUtf8(directoryHost);
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(',', begin);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(begin, end - begin);
    const size_t first = entry.find_first_not_of(" \t");
    const size_t last = entry.find_last_not_of(" \t");
    entry = first == std::string::npos ? std::string() : entry.substr(first, last - first + 1);
    if (!entry.empty()) urls.push_back(ServerUrl(entry));
    begin = end + 1;
  }
  if (urls.empty()) urls.push_back(ServerUrl(std::string()));
  return urls;
}

std::string JoinUrls(const std::vector<std::string>& urls) {
  std::string joined;
  for (const std::string& url : urls) joined += (joined.empty() ? "" : ", ") + url;
  return joined;
}

// The server this connection is on now, for the log.
std::wstring ConnectedUrl(natsConnection* nc) {
  char url[256] = {0};
  if (nc == nullptr || natsConnection_GetConnectedUrl(nc, url, sizeof url) != NATS_OK || !url[0]) {
    return L"?";
  }
  return Widen(url);
}

}  // namespace

// One offered service and the subscriptions that deliver it.
struct ServiceEntry {
  class VelSatellite::Impl* impl;
  std::wstring name;
  std::unique_ptr<VelSatelliteDelegateGeneric> delegate;
  VelServiceFunction function = nullptr;
  bool ping = false;  // the built-in presence service: only vel.ping.<satellite>
  std::vector<natsSubscription*> subscriptions;
};

class VelSatellite::Impl {
 public:
  std::mutex mu;  // guards everything below except the atomics
  natsConnection* conn = nullptr;
  std::wstring name;
  vel::BusCredentials credentials;
  std::vector<std::unique_ptr<ServiceEntry>> services;
  std::unique_ptr<ServiceEntry> ping;
  std::atomic<bool> closing{false};
  std::atomic<bool> broadcastsOnly{false};
  std::atomic<int> timeoutMs{kDefaultRequestTimeoutMs};
  std::atomic<int> inFlight{0};  // handlers running
  std::atomic<int> requests{0};  // Request calls using conn; Disconnect waits for them
  vel::ReplyInboxes inboxes;     // where the answers to this satellite's requests arrive

  // The handler pool: messages of every service are queued here by the
  // libnats delivery threads and served by up to kHandlerThreads workers,
  // so one service's requests run concurrently. Guarded by poolMu.
  struct Job {
    ServiceEntry* entry;
    natsConnection* conn;
    natsMsg* msg;
  };
  std::mutex poolMu;
  std::condition_variable poolWake;
  std::deque<Job> jobs;
  std::vector<std::thread> workers;
  size_t idleWorkers = 0;
  bool poolStopping = false;

  static void OnMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg, void* closure);
  void Enqueue(const Job& job);
  void WorkerLoop();
  // Ends the workers once the queue is empty and joins them.
  void StopPool();
  static void Serve(const Job& job);
  bool Subscribe(ServiceEntry* entry);
  void UnsubscribeLocked(ServiceEntry* entry);
  bool AddLocked(std::unique_ptr<ServiceEntry> entry);
  // Takes a reference on the connection for one Request; null when not connected.
  natsConnection* AcquireConnection();
  void ReleaseConnection() { --requests; }
  // Encodes and publishes: VEL_OK with *ticket holding the reply inbox
  // (none for "ALL", which is not answered), or the failure.
  long Publish(natsConnection* conn, const std::wstring& addressee, const std::wstring& method,
               const VARIANT& in, vel::ReplyInboxes::Ticket* ticket);
  // Waits for the ticket's answer and decodes it into *out and *retcodes.
  long Receive(vel::ReplyInboxes::Ticket* ticket, const std::wstring& addressee,
               const std::wstring& method, VARIANT* out, VARIANT* retcodes);
};

// A posted request: the connection reference and the reply inbox it holds.
struct VelSatellite::PostedRequest::State {
  VelSatellite::Impl* impl = nullptr;
  natsConnection* conn = nullptr;  // null when the post failed
  long failure = VEL_OK;           // the post's failure, given by Collect
  std::wstring addressee, method;
  vel::ReplyInboxes::Ticket ticket;
};

namespace {
int AnswerPing(const std::wstring&, const VARIANT&, VARIANT*) { return 0; }
}  // namespace

namespace {

void OnDisconnected(natsConnection*, void*) { LogWarn(L"Vel: disconnected from the bus server"); }
void OnReconnected(natsConnection* nc, void*) {
  LogInfo(L"Vel: reconnected to the bus server %ls", ConnectedUrl(nc).c_str());
}
void OnError(natsConnection* nc, natsSubscription*, natsStatus status, void*) {
  // The server refuses a publish or subscription this user may not make
  // only here: the call itself returned OK.
  const char* detail = nullptr;
  if (nc != nullptr) natsConnection_GetLastError(nc, &detail);
  LogError(L"Vel: %ls: %ls", status == NATS_NOT_PERMITTED ? L"permission violation"
                                                          : L"asynchronous bus error",
           Widen(detail && *detail ? detail : natsStatus_GetText(status)).c_str());
}

}  // namespace

void VelSatellite::Impl::OnMessage(natsConnection* nc, natsSubscription*, natsMsg* msg,
                                   void* closure) {
  ServiceEntry* entry = static_cast<ServiceEntry*>(closure);
  Impl* impl = entry->impl;
  if (impl->closing.load()) {
    natsMsg_Destroy(msg);
    return;
  }
  ++impl->inFlight;
  impl->Enqueue(Job{entry, nc, msg});
}

void VelSatellite::Impl::Enqueue(const Job& job) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(poolMu);
    jobs.push_back(job);
    if (idleWorkers == 0 && workers.size() < kHandlerThreads && !poolStopping) {
      workers.emplace_back(&Impl::WorkerLoop, this);
    } else {
      wake = true;
    }
  }
  // Woken after the lock is free, a worker takes the job at once instead of
  // waking only to wait for the lock.
  if (wake) poolWake.notify_one();
}

void VelSatellite::Impl::WorkerLoop() {
  std::unique_lock<std::mutex> hold(poolMu);
  for (;;) {
    if (jobs.empty()) {
      if (poolStopping) return;
      ++idleWorkers;
      poolWake.wait(hold);
      --idleWorkers;
      continue;
    }
    Job job = jobs.front();
    jobs.pop_front();
    hold.unlock();
    Serve(job);
    --job.entry->impl->inFlight;
    hold.lock();
  }
}

void VelSatellite::Impl::StopPool() {
  std::vector<std::thread> joining;
  {
    std::lock_guard<std::mutex> hold(poolMu);
    poolStopping = true;
    joining.swap(workers);
  }
  poolWake.notify_all();
  for (std::thread& worker : joining) worker.join();
  std::lock_guard<std::mutex> hold(poolMu);
  for (const Job& job : jobs) natsMsg_Destroy(job.msg);  // never started: no answer
  inFlight -= static_cast<int>(jobs.size());
  jobs.clear();
  poolStopping = false;  // a later Connect serves again
}

void VelSatellite::Impl::Serve(const Job& job) {
  ServiceEntry* entry = job.entry;
  natsMsg* msg = job.msg;
  const char* reply = natsMsg_GetReply(msg);
  const bool answer = reply && reply[0];
  vel::WireRequest request;
  std::string error, data;
  if (entry->ping) {
    // Presence only: whatever the body, a live satellite says so.
    if (answer) {
      VARIANT empty;
      VariantInit(&empty);
      vel::EncodeReply(0, empty, &data, &error);
      natsStatus s = natsConnection_Publish(job.conn, reply, data.data(), static_cast<int>(data.size()));
      if (s != NATS_OK) LogError(L"Vel: cannot answer a ping: %ls", NatsError(s).c_str());
    }
    natsMsg_Destroy(msg);
    return;
  }
  switch (vel::DecodeRequest(natsMsg_GetData(msg), natsMsg_GetDataLength(msg), &request, &error)) {
    case vel::WireFault::kText:
      data = vel::EncodeMessageReply(-1, "malformed request: " + error);
      break;
    case vel::WireFault::kValue:
      data = vel::EncodeMessageReply(-1, "malformed parameters: " + error);
      break;
    case vel::WireFault::kNone: {
      VARIANT result;
      VariantInit(&result);
      try {
        const int ret = entry->delegate ? entry->delegate->invoke(request.method, request.in, &result)
                                        : entry->function(request.method, request.in, &result);
        if (answer && !vel::EncodeReply(ret, result, &data, &error))
          data = vel::EncodeMessageReply(-1, "reply cannot be sent: " + error);
      } catch (const VelException& e) {
        data = vel::EncodeMessageReply(e.getCode() != 0 ? e.getCode() : -1, tev::ToStdUtf8(e.getMessage()));
      } catch (const std::exception& e) {
        data = vel::EncodeMessageReply(-1, e.what());
      } catch (...) {
        data = vel::EncodeMessageReply(-1, "unknown exception");
      }
      VariantClear(&result);
      break;
    }
  }
  if (answer) {
    natsStatus s =
        natsConnection_Publish(job.conn, reply, data.data(), static_cast<int>(data.size()));
    if (s != NATS_OK) LogError(L"Vel: cannot answer %ls: %ls", entry->name.c_str(), NatsError(s).c_str());
  }
  natsMsg_Destroy(msg);
}

bool VelSatellite::Impl::Subscribe(ServiceEntry* entry) {
  natsSubscription* sub = nullptr;
  if (entry->ping) {
    std::string subject = vel::PingSubject(name);
    natsStatus s = natsConnection_Subscribe(&sub, conn, subject.c_str(), &Impl::OnMessage, entry);
    if (s == NATS_OK) entry->subscriptions.push_back(sub);
    else LogError(L"Vel: cannot answer pings: %ls", NatsError(s).c_str());
    return s == NATS_OK;
  }
  std::string direct = vel::DirectSubject(name, entry->name);
  std::string any = vel::AnySubject(entry->name);
  std::string queue = vel::AnyQueue(entry->name);
  std::string all = vel::AllSubject(entry->name);
  natsStatus s = NATS_OK;
  if (!broadcastsOnly.load()) {
    s = natsConnection_Subscribe(&sub, conn, direct.c_str(), &Impl::OnMessage, entry);
    if (s == NATS_OK) entry->subscriptions.push_back(sub);
    if (s == NATS_OK) s = natsConnection_QueueSubscribe(&sub, conn, any.c_str(), queue.c_str(), &Impl::OnMessage, entry);
    if (s == NATS_OK) entry->subscriptions.push_back(sub);
  }
  if (s == NATS_OK) s = natsConnection_Subscribe(&sub, conn, all.c_str(), &Impl::OnMessage, entry);
  if (s == NATS_OK) entry->subscriptions.push_back(sub);
  if (s != NATS_OK) {
    LogError(L"Vel: cannot offer %ls: %ls", entry->name.c_str(), NatsError(s).c_str());
    return false;
  }
  return true;
}

void VelSatellite::Impl::UnsubscribeLocked(ServiceEntry* entry) {
  // Draining waits for a handler that is running, so that nothing touches
  // the entry once this returns.
  // Without a server a drain cannot finish: stop delivery instead and wait
  // for the handlers still running.
  bool connected = conn && natsConnection_Status(conn) == NATS_CONN_STATUS_CONNECTED;
  for (natsSubscription* sub : entry->subscriptions) {
    if (connected && natsSubscription_Drain(sub) == NATS_OK) {
      natsSubscription_WaitForDrainCompletion(sub, kDrainWaitMs);
    } else {
      natsSubscription_Unsubscribe(sub);
    }
  }
  for (int waited = 0; inFlight.load() > 0 && waited < kDrainWaitMs; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (natsSubscription* sub : entry->subscriptions) natsSubscription_Destroy(sub);
  entry->subscriptions.clear();
}

bool VelSatellite::Impl::AddLocked(std::unique_ptr<ServiceEntry> entry) {
  if (!conn) return false;
  if (!Subscribe(entry.get())) {
    UnsubscribeLocked(entry.get());
    return false;
  }
  if (entry->ping) ping = std::move(entry);
  else services.push_back(std::move(entry));
  return true;
}

natsConnection* VelSatellite::Impl::AcquireConnection() {
  if (closing.load()) return nullptr;  // also keeps a handler's Request from waiting on Disconnect
  std::lock_guard<std::mutex> lock(mu);
  if (!conn || closing.load()) return nullptr;
  ++requests;
  return conn;
}

VelSatellite::VelSatellite() : impl_(new Impl) {}

VelSatellite::~VelSatellite() { VelSatellite::Disconnect(); }

long VelSatellite::Connect(const std::wstring& directoryHost, const std::wstring& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->conn) return VEL_OK;
  natsOptions* opts = nullptr;
  if (natsOptions_Create(&opts) != NATS_OK) return VEL_CONNECT_FAILED;
  const std::vector<std::string> urls = ServerUrls(directoryHost);
  std::vector<const char*> servers;
  for (const std::string& url : urls) servers.push_back(url.c_str());
  std::string connName = tev::ToStdUtf8(name);
  // Any server of the list will do, tried in the order given (an operator
  // names the nearest first); once joined, libnats fails over to every
  // server of the cluster it learns of.
  natsOptions_SetServers(opts, servers.data(), static_cast<int>(servers.size()));
  natsOptions_SetNoRandomize(opts, true);
  natsOptions_SetName(opts, connName.c_str());
  natsOptions_SetSendAsap(opts, true);
  natsOptions_SetTimeout(opts, kConnectTimeoutMs);
  natsOptions_SetAllowReconnect(opts, true);
  natsOptions_SetMaxReconnect(opts, -1);
  natsOptions_SetReconnectWait(opts, kReconnectWaitMs);
  natsOptions_SetFailRequestsOnDisconnect(opts, true);
  natsOptions_SetDisconnectedCB(opts, &OnDisconnected, nullptr);
  natsOptions_SetReconnectedCB(opts, &OnReconnected, nullptr);
  natsOptions_SetErrorHandler(opts, &OnError, nullptr);
  natsOptions_SetClosedCB(opts, &OnClosed, nullptr);
  std::string refused;
  if (!vel::ApplyBusCredentials(impl_->credentials, opts, &refused)) {
    natsOptions_Destroy(opts);
    LogError(L"Vel: %ls", Widen(refused.c_str()).c_str());
    return VEL_CONNECT_FAILED;
  }
  natsStatus s = natsConnection_Connect(&impl_->conn, opts);
  natsOptions_Destroy(opts);
  if (s != NATS_OK) {
    LogError(L"Vel: cannot reach the bus server %ls: %ls", tev::FromStdUtf8(JoinUrls(urls)).c_str(),
             NatsError(s).c_str());
    impl_->conn = nullptr;
    return VEL_CONNECT_FAILED;
  }
  LogInfo(L"Vel: joined the bus server %ls as %ls", ConnectedUrl(impl_->conn).c_str(), name.c_str());
  g_connections.Opened();
  impl_->name = name;
  impl_->closing = false;
  impl_->services.clear();
  std::unique_ptr<ServiceEntry> ping(new ServiceEntry);
  ping->impl = impl_.get();
  ping->name = L"vel.ping";
  ping->function = &AnswerPing;
  ping->ping = true;
  impl_->AddLocked(std::move(ping));
  // DefineServices adds through AddService, which takes the lock itself.
  impl_->mu.unlock();
  DefineServices();
  impl_->mu.lock();
  // The server has taken every subscription once the flush returns, so the
  // services answer as soon as Connect has.
  if (impl_->conn) natsConnection_FlushTimeout(impl_->conn, kConnectTimeoutMs);
  return VEL_OK;
}

void VelSatellite::SetBroadcastsOnly(bool only) { impl_->broadcastsOnly = only; }

void VelSatellite::SetCredentials(const vel::BusCredentials& credentials) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->credentials = credentials;
}

long VelSatellite::ConnectUser(const std::wstring& user, const std::wstring& password) { return VEL_BAD_ARGUMENT; }

void VelSatellite::Disconnect() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!impl_->conn) return;
  impl_->closing = true;
  for (auto& entry : impl_->services) impl_->UnsubscribeLocked(entry.get());
  if (impl_->ping) impl_->UnsubscribeLocked(impl_->ping.get());
  // No handler runs once the workers are joined.
  impl_->StopPool();
  // Closing ends the requests still waiting for answers; the connection is
  // destroyed only once no Request uses it any more.
  natsConnection_Close(impl_->conn);
  g_connections.WaitForClosed(impl_->conn, kDrainWaitMs);
  for (int waited = 0; impl_->requests.load() > 0 && waited < kDrainWaitMs; waited += 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (impl_->requests.load() > 0) {
    LogError(L"Vel: %d requests still running at disconnect; the connection is left open",
             impl_->requests.load());
  } else {
    impl_->inboxes.Clear();
    natsConnection_Destroy(impl_->conn);
    g_connections.Destroyed();
  }
  impl_->conn = nullptr;
  impl_->services.clear();
  impl_->ping.reset();
}

long VelSatellite::Request(const std::wstring& addressee, const std::wstring& method,
                           const VARIANT& in, VARIANT* out, VELFLAGS flags, VARIANT* retcodes) {
  // A broadcast is not waited for.
  if (vel::RouteOf(addressee) != vel::Route::kAll) CheckNoEngineLockWhileWaiting(addressee, method);
  natsConnection* conn = impl_->AcquireConnection();
  if (!conn) return VEL_NOT_CONNECTED;
  vel::ReplyInboxes::Ticket ticket;
  long result = impl_->Publish(conn, addressee, method, in, &ticket);
  if (result == VEL_OK) result = impl_->Receive(&ticket, addressee, method, out, retcodes);
  impl_->ReleaseConnection();
  return result;
}

VelSatellite::PostedRequest::PostedRequest(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

VelSatellite::PostedRequest::~PostedRequest() {
  if (!state_ || state_->conn == nullptr) return;
  state_->impl->inboxes.Abandon(&state_->ticket);
  state_->impl->ReleaseConnection();
}

std::unique_ptr<VelSatellite::PostedRequest> VelSatellite::Post(const std::wstring& addressee,
                                                                const std::wstring& method,
                                                                const VARIANT& in) {
  std::unique_ptr<PostedRequest::State> state(new PostedRequest::State);
  state->impl = impl_.get();
  state->addressee = addressee;
  state->method = method;
  natsConnection* conn = impl_->AcquireConnection();
  if (!conn) {
    state->failure = VEL_NOT_CONNECTED;
  } else {
    state->failure = impl_->Publish(conn, addressee, method, in, &state->ticket);
    if (state->failure == VEL_OK) {
      state->conn = conn;  // held until collected or dropped
    } else {
      impl_->ReleaseConnection();
    }
  }
  return std::unique_ptr<PostedRequest>(new PostedRequest(std::move(state)));
}

bool VelSatellite::Answered(const PostedRequest& posted) {
  if (!posted.state_ || posted.state_->conn == nullptr) return true;
  return vel::ReplyInboxes::Arrived(posted.state_->ticket);
}

long VelSatellite::Collect(std::unique_ptr<PostedRequest> posted, VARIANT* out,
                           VARIANT* retcodes) {
  if (!posted || !posted->state_) return VEL_BAD_ARGUMENT;
  PostedRequest::State& state = *posted->state_;
  if (state.conn == nullptr) return state.failure;
  if (!vel::ReplyInboxes::Arrived(state.ticket)) {
    CheckNoEngineLockWhileWaiting(state.addressee, state.method);
  }
  // The satellite it was posted on (the one that holds its connection).
  const long result = state.impl->Receive(&state.ticket, state.addressee, state.method, out, retcodes);
  state.conn = nullptr;
  state.impl->ReleaseConnection();
  return result;
}

long VelSatellite::Impl::Publish(natsConnection* conn, const std::wstring& addressee,
                                 const std::wstring& method, const VARIANT& in,
                                 vel::ReplyInboxes::Ticket* ticket) {
  std::string data, error;
  if (!vel::EncodeRequest(method, in, &data, &error)) {
    LogError(L"Vel: %ls to %ls: %ls", method.c_str(), addressee.c_str(), tev::FromStdUtf8(error).c_str());
    return VEL_BAD_ARGUMENT;
  }
  vel::Route route = vel::RouteOf(addressee);
  std::string subject = route == vel::Route::kAny   ? vel::AnySubject(method)
                        : route == vel::Route::kAll ? vel::AllSubject(method)
                                                    : vel::DirectSubject(addressee, method);
  if (route == vel::Route::kAll) {
    natsStatus s = natsConnection_Publish(conn, subject.c_str(), data.data(), static_cast<int>(data.size()));
    if (s != NATS_OK) {
      LogError(L"Vel: broadcast %ls failed: %ls", method.c_str(), NatsError(s).c_str());
      return VEL_PUBLISH_FAILED;
    }
    return VEL_OK;
  }
  natsStatus s = inboxes.Send(conn, subject.c_str(), data, ticket);
  if (s != NATS_OK) {
    LogWarn(L"Vel: request %ls to %ls failed: %ls", method.c_str(), addressee.c_str(), NatsError(s).c_str());
    return s == NATS_NO_RESPONDERS ? VEL_NO_RESPONDERS : VEL_NOT_CONNECTED;
  }
  return VEL_OK;
}

long VelSatellite::Impl::Receive(vel::ReplyInboxes::Ticket* ticket, const std::wstring& addressee,
                                 const std::wstring& method, VARIANT* out, VARIANT* retcodes) {
  if (ticket->inbox == nullptr) {  // a broadcast: nobody answers
    if (out) VariantClear(out);
    if (retcodes) {
      VariantClear(retcodes);
      retcodes->vt = VT_I4;
      retcodes->lVal = 0;
    }
    return VEL_OK;
  }
  natsMsg* reply = nullptr;
  natsStatus s = inboxes.Receive(ticket, timeoutMs.load(), &reply);
  if (s != NATS_OK) {
    long result = s == NATS_NO_RESPONDERS ? VEL_NO_RESPONDERS
                  : s == NATS_TIMEOUT    ? VEL_TIMEOUT
                                         : VEL_NOT_CONNECTED;
    LogWarn(L"Vel: request %ls to %ls failed: %ls", method.c_str(), addressee.c_str(), NatsError(s).c_str());
    return result;
  }
  std::string error;
  vel::WireReply answer;
  const bool ok = vel::DecodeReply(natsMsg_GetData(reply), natsMsg_GetDataLength(reply), &answer,
                                   &error) == vel::WireFault::kNone;
  natsMsg_Destroy(reply);
  if (!ok) {
    LogError(L"Vel: malformed reply to %ls from %ls: %ls", method.c_str(), addressee.c_str(),
             tev::FromStdUtf8(error).c_str());
    return VEL_BAD_REPLY;
  }
  if (out) {
    VariantClear(out);
    *out = answer.out;  // ownership moves to the caller
    VariantInit(&answer.out);
  }
  if (retcodes) {
    VariantClear(retcodes);
    retcodes->vt = VT_I4;
    retcodes->lVal = answer.ret;
  }
  return VEL_OK;
}

long VelSatellite::DirectoryPingSatellite(const std::wstring& host, const std::wstring& name,
                                          unsigned short port, int timeoutMs, VELSTATUS* status) {
  // host and port name the directory; on this bus it is the server we are
  // connected to already.
  if (status) *status = VELSTATUS_UNKNOWN;
  natsConnection* conn = impl_->AcquireConnection();
  if (!conn) return VEL_NOT_CONNECTED;
  std::string subject = vel::PingSubject(name);
  VARIANT empty;
  VariantInit(&empty);
  std::string data, error;
  vel::EncodeRequest(L"vel.ping", empty, &data, &error);
  natsMsg* reply = nullptr;
  natsStatus s = natsConnection_Request(&reply, conn, subject.c_str(), data.data(),
                                        static_cast<int>(data.size()),
                                        timeoutMs > 0 ? timeoutMs : impl_->timeoutMs.load());
  impl_->ReleaseConnection();
  if (reply) natsMsg_Destroy(reply);
  if (s == NATS_OK || s == NATS_NO_RESPONDERS || s == NATS_TIMEOUT) {
    if (status) *status = s == NATS_OK ? VELSTATUS_ONLINE : VELSTATUS_OFFLINE;
    return VEL_OK;
  }
  LogWarn(L"Vel: ping of %ls failed: %ls", name.c_str(), NatsError(s).c_str());
  return VEL_NOT_CONNECTED;
}

long VelSatellite::GetSatelliteId(int* id) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!impl_->conn) return VEL_NOT_CONNECTED;
  uint64_t cid = 0;
  natsConnection_GetClientID(impl_->conn, &cid);
  if (id) *id = static_cast<int>(cid);
  return VEL_OK;
}

void VelSatellite::AddServiceAvailabilityListener(const std::wstring&) {}
void VelSatellite::RemoveServiceAvailabilityListener(const std::wstring&) {}
long VelSatellite::RegisterServices() { return VEL_OK; }
long VelSatellite::UnregisterServices(bool) { return VEL_OK; }

void VelSatellite::AddService(const std::wstring& name, const std::wstring& method, VelServiceFunction fn) {
  std::unique_ptr<ServiceEntry> entry(new ServiceEntry);
  entry->impl = impl_.get();
  entry->name = name;
  entry->function = fn;
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (fn) impl_->AddLocked(std::move(entry));
}

void VelSatellite::AddService(const std::wstring& name, const std::wstring& method,
                              VelSatelliteDelegateGeneric* delegate) {
  std::unique_ptr<ServiceEntry> entry(new ServiceEntry);
  entry->impl = impl_.get();
  entry->name = name;
  entry->delegate.reset(delegate);
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (delegate) impl_->AddLocked(std::move(entry));
}

void VelSatellite::RemoveService(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  for (auto it = impl_->services.begin(); it != impl_->services.end(); ++it) {
    if ((*it)->name == name) {
      impl_->UnsubscribeLocked(it->get());
      impl_->services.erase(it);
      return;
    }
  }
}

void VelSatellite::OnServiceRequested(const std::wstring&) {}
void VelSatellite::OnServiceAvailabilityChanged(const std::wstring&, bool) {}
void VelSatellite::OnStatusChange(VELSTATUS) {}

void VelSatellite::SetRequestTimeout(int milliseconds) { impl_->timeoutMs = milliseconds; }

bool VelSatellite::ReleaseLibrary() {
  if (g_connections.Live() != 0) return false;
  // Only when nothing outside this module uses libnats: a program linked
  // with it makes its symbols visible from the main program's scope.
  void* program = dlopen(nullptr, RTLD_NOW);
  const bool shared = program != nullptr && dlsym(program, "natsConnection_Connect") != nullptr;
  if (program != nullptr) dlclose(program);
  if (shared) return false;
  // libnats reports the end of its close from one of its own threads, which
  // then still runs a few instructions of the library before it exits. The
  // library therefore stays mapped for the rest of the process: an unload of
  // this module right after the wait must not take those instructions away.
  // (A later load of the module starts libnats again from its closed state.)
  Dl_info self;
  if (dladdr(reinterpret_cast<void*>(&nats_CloseAndWait), &self) == 0 ||
      self.dli_fname == nullptr ||
      dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) {
    LogError(L"Vel: the bus library could not be kept loaded; it is left running");
    return false;
  }
  natsStatus s = nats_CloseAndWait(kDrainWaitMs);
  if (s != NATS_OK) {
    LogError(L"Vel: the bus library did not stop in time: %ls", NatsError(s).c_str());
    return false;
  }
  return true;
}

boost::shared_ptr<CBBLog> VelSatellite::initLogger() {
  // The library keeps its own lines in memory; failures worth a person's
  // attention also go to the module's log through the level functions.
  return boost::shared_ptr<CBBLog>(new CBBLog(65536u, false));
}
