// velctl's one connection to the bus: requests whose parameters and answers
// are JSON in the wire encoding (vel/WIRE.md), and every failure said as a
// sentence a person can act on.
//
// Threads: Call runs on the caller's thread; services offered with Offer
// run on the bus library's threads.
#ifndef TEV_TOOLS_VELCTL_BUS_H_
#define TEV_TOOLS_VELCTL_BUS_H_

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "vel/BusCredentials.h"

class VelSatellite;

namespace velctl {

// Exit codes of velctl, the same for every command.
enum Exit : int {
  kOk = 0,          // done
  kRefused = 1,     // the satellite answered with a non-zero return code
  kUsage = 2,       // bad command line or parameters; nothing was sent
  kBusFailure = 3,  // no bus, nobody offers the method, or no answer in time
};

struct BusOptions {
  // Empty: the settings file's velDirectory.host, else 127.0.0.1:4222.
  std::string host;
  std::string name;  // empty: "velctl-<pid>"
  int timeoutMs = 30000;
  bool dryRun = false;  // print each request instead of sending it
  // Settings file with the bus credentials (empty: $TEV_REGISTRY_FILE, else
  // the package's /etc/tev/bus/velctl.ini when readable, else
  // /etc/tev/registry.ini); non-empty fields of `overrides` win over it.
  std::string settings;
  vel::BusCredentials overrides;
};

struct Answer {
  Exit exit = kOk;
  long busResult = 0;   // Request's result; non-zero means exit is kBusFailure
  long ret = 0;         // the handler's return code when an answer arrived
  nlohmann::json out;   // the out value (null on a bus failure or a dry run)
  std::string error;    // the readable reason when exit is not kOk
};

class Bus {
 public:
  explicit Bus(const BusOptions& options);
  ~Bus();
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  // Offers a listener for the broadcasts ("ALL") of `method` while joined
  // (before Join only); nobody can call it directly. The handler gets the
  // in value as JSON and returns the result code.
  void Offer(const std::string& method, std::function<int(const nlohmann::json& in)> handler);
  // Joins the bus; a dry run joins nothing. False with *error when it cannot.
  bool Join(std::string* error);
  // One request. `params` null sends VT_EMPTY. In a dry run prints
  // "ADDRESSEE METHOD PARAMS" on standard output and answers kOk with a
  // null out.
  Answer Call(const std::string& addressee, const std::string& method,
              const nlohmann::json& params = nlohmann::json());

  bool DryRun() const { return options_.dryRun; }
  const BusOptions& Options() const { return options_; }

 private:
  class Client;
  BusOptions options_;
  std::unique_ptr<Client> client_;
};

// Sentences for a bus result of Request and for a service's return code.
std::string DescribeBusFailure(long result, const std::string& addressee, const std::string& method,
                               const BusOptions& options);
std::string DescribeReturnCode(long code);

// Prints "velctl: <error>" for a failed answer and returns its exit code.
int Report(const Answer& answer);

}  // namespace velctl

#endif  // TEV_TOOLS_VELCTL_BUS_H_
