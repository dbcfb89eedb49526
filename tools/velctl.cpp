// velctl: joins the bus under a name of its own and calls one method of one
// satellite. Parameters are JSON in the wire encoding (vel/WIRE.md), given
// on the command line or, with "-", on standard input. Prints
// {"result": bus result, "ret": return code, "out": value} and exits
// non-zero on a bus failure or a non-zero return code.
#include <unistd.h>

#include <iostream>
#include <iterator>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "support/Registry.h"
#include "support/VUtil.h"
#include "support/WideText.h"
#include "vel/BusCredentials.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace {

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Calls a method of a satellite on the Tev bus"};
  std::string host = "127.0.0.1";
  std::string name = "velctl-" + std::to_string(getpid());
  int timeoutMs = 30000;
  std::string addressee, method, params;
  app.add_option("--host", host, "bus server, host or host:port (default port 4222)");
  app.add_option("--name", name, "satellite name of this client");
  app.add_option("--timeout", timeoutMs, "milliseconds to wait for the answer");
  std::string settings;
  vel::BusCredentials overrides;
  app.add_option("--settings", settings,
                 "settings file with the bus credentials (default $TEV_REGISTRY_FILE or "
                 "/etc/tev/registry.ini)");
  app.add_option("--user", overrides.user, "bus user (instead of the settings file's)");
  app.add_option("--password", overrides.password, "bus password");
  app.add_option("--token", overrides.token, "bus token");
  app.add_option("--ca", overrides.caFile, "CA certificate of the bus server (turns TLS on)");
  app.add_option("addressee", addressee, "satellite name, \"any\" or \"ALL\"")->required();
  app.add_option("method", method, "method name")->required();
  app.add_option("params", params, "parameters as JSON, or - to read them from standard input");
  CLI11_PARSE(app, argc, argv);

  if (params == "-") {
    params.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  AutoVariant in, out, ret;
  if (!params.empty()) {
    const bool shallow = vel::JsonDepthWithin(params.data(), params.size(), vel::kWireJsonDepth);
    nlohmann::json json = shallow ? nlohmann::json::parse(params, nullptr, false) : nlohmann::json();
    std::string error;
    if (!shallow) {
      std::cerr << "velctl: parameters nest too deep\n";
      return 2;
    }
    if (json.is_discarded()) {
      std::cerr << "velctl: parameters are not JSON\n";
      return 2;
    }
    if (!vel::DecodeVariant(json, &in, &error)) {
      std::cerr << "velctl: " << error << "\n";
      return 2;
    }
  }

  Client client;
  CRegistryImpl registry(settings);
  vel::BusCredentials credentials = vel::ReadBusCredentials(registry);
  if (!overrides.user.empty()) {
    credentials.user = overrides.user;
    credentials.password = overrides.password;
  }
  if (!overrides.token.empty()) credentials.token = overrides.token;
  if (!overrides.caFile.empty()) credentials.caFile = overrides.caFile;
  client.SetCredentials(credentials);
  long connected = client.Connect(tev::FromStdUtf8(host), tev::FromStdUtf8(name));
  if (connected != 0) {
    std::cerr << "velctl: cannot join the bus at " << host << " (" << connected << ")\n";
    return 3;
  }
  client.SetRequestTimeout(timeoutMs);
  long result = client.Request(tev::FromStdUtf8(addressee), tev::FromStdUtf8(method), in, &out, 0, &ret);

  nlohmann::json report = {{"result", result}};
  if (result == 0) {
    nlohmann::json value, code;
    std::string error;
    vel::EncodeVariant(out, &value, &error);
    vel::EncodeVariant(ret, &code, &error);
    report["ret"] = code;
    report["out"] = value;
  }
  std::cout << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  client.Disconnect();
  if (result != 0) return 1;
  long code = -1;
  try {
    code = VUtil::GetSingleRetcode(ret);
  } catch (const VelException&) {
  }
  return code == 0 ? 0 : 1;
}
