// velctl: the command-line client of the Tev bus.
//
//   velctl schedule --channel "Test Card" --in 2m --for 30m --name "My Show"
//   velctl list | cancel ID | conflicts | channels | passes | pass add ...
//   velctl settings [--padding S] ... | watch
//   velctl ADDRESSEE METHOD [PARAMS]        any method, parameters as JSON
//
// Exit codes: 0 done; 1 the satellite refused (non-zero return code);
// 2 bad command line or parameters, nothing sent; 3 the bus failed (no
// server, nobody offers the method, no answer in time).
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/velctl_bus.h"
#include "tools/velctl_commands.h"

#ifndef TEV_VERSION
#define TEV_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  using namespace velctl;
  CLI::App app{
      "velctl " TEV_VERSION ": schedules and inspects recordings of the Tev PVR module, or calls "
      "any method of a satellite on the Tev bus.\n"
      "Exit codes: 0 done, 1 refused by the satellite, 2 bad command line, 3 bus failure."};
  BusOptions options;
  app.add_option("--host", options.host,
                 "bus server, host or host:port, or a comma-separated list of the servers of a "
                 "cluster (default: velDirectory.host of the settings file, else 127.0.0.1:4222; "
                 "default port 4222)");
  app.add_option("--name", options.name, "satellite name of this client (default velctl-<pid>)");
  app.add_option("--timeout", options.timeoutMs, "milliseconds to wait for each answer")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--settings", options.settings,
                 "settings file with the bus credentials and host (default $TEV_REGISTRY_FILE, "
                 "else /etc/tev/bus/velctl.ini when readable, else /etc/tev/registry.ini)");
  app.add_option("--user", options.overrides.user, "bus user (instead of the settings file's)");
  app.add_option("--password", options.overrides.password, "bus password");
  app.add_option("--token", options.overrides.token, "bus token");
  app.add_option("--ca", options.overrides.caFile, "CA certificate of the bus server (turns TLS on)");
  app.add_option("--cert", options.overrides.certFile,
                 "this client's certificate, for a bus server that verifies clients (with --key)");
  app.add_option("--key", options.overrides.keyFile, "private key of --cert");
  app.add_flag("--dry-run", options.dryRun,
               "print each request (ADDRESSEE METHOD PARAMS) instead of sending it");
  app.set_version_flag("--version", "velctl " TEV_VERSION);

  Command command;
  AddRecordingCommands(app, &command);
  AddQueryCommands(app, &command);
  AddPassCommands(app, &command);
  AddSettingsCommand(app, &command);
  AddWatchCommand(app, &command);
  AddRawForm(app, &command);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }
  if (!command.run) {
    std::cerr << app.help() << "\nvelctl: name a command, or an addressee and a method\n";
    return kUsage;
  }
  Bus bus(options);
  if (command.prepare) command.prepare(bus);
  std::string error;
  if (!bus.Join(&error)) {
    std::cerr << "velctl: " << error << "\n";
    return kBusFailure;
  }
  return command.run(bus);
}
