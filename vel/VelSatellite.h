// The bus library's satellite: joins the bus under a name, offers services
// and sends requests to other satellites. Virtual operations are in the
// library's slot order; the module uses Connect, Disconnect, Request and
// the delegate form of AddService.
//
// Addressing of Request: a satellite name reaches that satellite; "any" or
// "Any" reaches exactly one satellite that offers the method; "ALL" reaches
// every satellite that offers it and does not wait for answers.
//
// Threads: handlers run on a pool of up to 16 threads per satellite,
// concurrently, also for one service; Disconnect returns after the last
// handler has returned.
#ifndef TEV_VEL_VELSATELLITE_H_
#define TEV_VEL_VELSATELLITE_H_

#include <cstdint>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "platform/Variant.h"
#include "support/VelException.h"
#include "vel/BusCredentials.h"

class CBBLog;

enum VELSTATUS : int32_t {
  VELSTATUS_UNKNOWN = 0,
  VELSTATUS_ONLINE = 1,
  VELSTATUS_OFFLINE = 2,
};
typedef uint32_t VELFLAGS;

// Results of the library's own operations (0 = success).
enum VelResult : long {
  VEL_OK = 0,
  VEL_NOT_CONNECTED = 1,
  VEL_NO_RESPONDERS = 2,
  VEL_TIMEOUT = 3,
  VEL_BAD_REPLY = 4,
  VEL_CONNECT_FAILED = 5,
  VEL_PUBLISH_FAILED = 6,
  VEL_BAD_ARGUMENT = 7,
};

class VelSatelliteDelegateGeneric {
 public:
  virtual ~VelSatelliteDelegateGeneric() = default;
  // Returns the service's result code (0 = success).
  virtual int invoke(const std::wstring& method, const VARIANT& in, VARIANT* out) = 0;
};

typedef int (*VelServiceFunction)(const std::wstring& method, const VARIANT& in, VARIANT* out);

class VelSatellite {
 public:
  VelSatellite();
  virtual ~VelSatellite();

  // Joins the bus server named by `directoryHost` ("host" or "host:port",
  // default port 4222, or a comma-separated list of such servers of one
  // cluster: any that answers will do) as `name`, calls DefineServices and subscribes every
  // service. Returns 0 when connected. Keeps reconnecting after losing the
  // server; services are available again without a new Connect.
  virtual long Connect(const std::wstring& directoryHost, const std::wstring& name);
  virtual long ConnectUser(const std::wstring& user, const std::wstring& password);
  // Stops the services (waiting for running handlers) and leaves the bus.
  // Idempotent; not to be called from inside a handler.
  virtual void Disconnect();
  // Returns non-zero for every bus failure (not connected, nobody offers the
  // method, timeout, malformed reply). Otherwise fills *out and *retcodes:
  // retcodes becomes VT_I4 holding the handler's result (or the non-zero
  // code of the exception a handler threw; *out then holds its message).
  virtual long Request(const std::wstring& addressee, const std::wstring& method,
                       const VARIANT& in, VARIANT* out, VELFLAGS flags, VARIANT* retcodes);
  // A request whose answer is read later, so that a caller can have two
  // answers travel at once or work while one does: Post sends it (the
  // addressing of Request) and Collect waits for its answer, giving what
  // Request would have given. An unanswered PostedRequest that is dropped
  // forgets its answer. It must not outlive this satellite; Disconnect
  // waits (bounded) for it to be collected or dropped.
  class PostedRequest {
   public:
    ~PostedRequest();
    PostedRequest(const PostedRequest&) = delete;
    PostedRequest& operator=(const PostedRequest&) = delete;

   private:
    friend class VelSatellite;
    struct State;
    explicit PostedRequest(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
  };
  std::unique_ptr<PostedRequest> Post(const std::wstring& addressee, const std::wstring& method,
                                      const VARIANT& in);
  long Collect(std::unique_ptr<PostedRequest> posted, VARIANT* out, VARIANT* retcodes);
  // Whether Collect would return without waiting: the answer (or the
  // notice that nobody answers) is in, or the post failed.
  static bool Answered(const PostedRequest& posted);
  // Asks satellite `name` whether it is on the bus (host and port are the
  // server's, already known from Connect). Returns 0 with *status ONLINE when
  // it answered within timeoutMs (<= 0: the request timeout), OFFLINE when
  // not; non-zero with UNKNOWN when this satellite is not connected.
  virtual long DirectoryPingSatellite(const std::wstring& host, const std::wstring& name,
                                      unsigned short port, int timeoutMs, VELSTATUS* status);
  virtual long GetSatelliteId(int* id);
  virtual void AddServiceAvailabilityListener(const std::wstring& name);
  virtual void RemoveServiceAvailabilityListener(const std::wstring& name);
  // Called by Connect: the derived class adds its services here.
  virtual void DefineServices() = 0;
  virtual long RegisterServices();
  virtual long UnregisterServices(bool force);
  virtual void AddService(const std::wstring& name, const std::wstring& method, VelServiceFunction fn);
  // Takes ownership of the delegate; it lives as long as this satellite.
  virtual void AddService(const std::wstring& name, const std::wstring& method,
                          VelSatelliteDelegateGeneric* delegate);
  virtual void RemoveService(const std::wstring& name);
  virtual void OnServiceRequested(const std::wstring& method);
  virtual void OnServiceAvailabilityChanged(const std::wstring& name, bool available);
  virtual void OnStatusChange(VELSTATUS status);

  // Credentials used by the next Connect (vel/BusCredentials.h); none by
  // default.
  void SetCredentials(const vel::BusCredentials& credentials);
  // Before Connect: the services hear only what is sent to "ALL". For a
  // client that listens to broadcasts and answers nothing (velctl watch,
  // the web page), whose bus user may not take requests.
  void SetBroadcastsOnly(bool only);
  // Timeout of one Request waiting for its answer; default 30000 ms.
  void SetRequestTimeout(int milliseconds);

  // A new in-memory log for the bus library's own lines; its owner keeps it.
  static boost::shared_ptr<CBBLog> initLogger();
  // For a plug-in about to be unloaded: when no satellite of this library
  // is connected and nothing else in the process uses libnats, stops
  // libnats and waits (bounded) until its threads have ended, so that none
  // of them runs code of the unloaded library; libnats itself then stays
  // mapped until the process ends. True when it stopped. Host thread only,
  // never from a handler or callback.
  static bool ReleaseLibrary();

  VelSatellite(const VelSatellite&) = delete;
  VelSatellite& operator=(const VelSatellite&) = delete;

 private:
  friend struct ServiceEntry;
  class Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // TEV_VEL_VELSATELLITE_H_
