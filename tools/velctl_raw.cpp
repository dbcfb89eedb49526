// The raw form: any method of any satellite, parameters as wire JSON; prints
// {"result": bus result, "ret": return code, "out": value}.
#include <iostream>
#include <iterator>
#include <memory>

#include "tools/velctl_commands.h"
#include "vel/WireCodec.h"

namespace velctl {

namespace {

struct RawArguments {
  std::string addressee, method, params;
};

int RunRaw(Bus& bus, const RawArguments& args) {
  std::string text = args.params;
  if (text == "-") text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  nlohmann::json params;
  if (!text.empty()) {
    if (!vel::JsonDepthWithin(text.data(), text.size(), vel::kWireJsonDepth)) {
      std::cerr << "velctl: the parameters nest too deep\n";
      return kUsage;
    }
    params = nlohmann::json::parse(text, nullptr, false);
    if (params.is_discarded()) {
      std::cerr << "velctl: the parameters are not JSON: " << text << "\n"
                << "velctl: write them in the wire encoding (vel/WIRE.md), for example "
                   "'[\"viewer\", 5, {\"vt\":\"DATE\",\"v\":\"2026-12-24T21:00:00\"}]'\n";
      return kUsage;
    }
  }
  if (args.method.empty()) {
    std::cerr << "velctl: name the method to call after " << args.addressee << "\n";
    return kUsage;
  }
  Answer answer = bus.Call(args.addressee, args.method, params);
  if (answer.exit == kUsage || bus.DryRun()) return Report(answer);
  nlohmann::json report = {{"result", answer.busResult}};
  if (answer.exit != kBusFailure) {
    report["ret"] = answer.ret;
    report["out"] = answer.out;
  }
  std::cout << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  return Report(answer);
}

}  // namespace

void AddRawForm(CLI::App& app, Command* command) {
  auto args = std::make_shared<RawArguments>();
  app.add_option("addressee", args->addressee, "raw form: satellite name, \"any\" or \"ALL\"");
  app.add_option("method", args->method, "raw form: method name");
  app.add_option("params", args->params, "raw form: parameters as JSON, or - to read standard input");
  app.callback([args, command]() {
    if (!command->run && !args->addressee.empty()) {
      command->run = [args](Bus& bus) { return RunRaw(bus, *args); };
    }
  });
}

}  // namespace velctl
