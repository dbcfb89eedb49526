// velctl's commands. Each Add* function adds its subcommands to the
// application; the one the command line selects stores its work in
// Command::run, which main calls once the bus is joined.
#ifndef TEV_TOOLS_VELCTL_COMMANDS_H_
#define TEV_TOOLS_VELCTL_COMMANDS_H_

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/velctl_bus.h"

namespace velctl {

struct Command {
  // Runs before the bus is joined (services to offer); may be empty.
  std::function<void(Bus&)> prepare;
  // The work; returns the exit code.
  std::function<int(Bus&)> run;
};

// The original form: velctl ADDRESSEE METHOD [PARAMS].
void AddRawForm(CLI::App& app, Command* command);
// schedule, cancel, retry.
void AddRecordingCommands(CLI::App& app, Command* command);
// list, channels, conflicts, passes, pass add.
void AddQueryCommands(CLI::App& app, Command* command);
void AddPassCommands(CLI::App& app, Command* command);
// settings.
void AddSettingsCommand(CLI::App& app, Command* command);
// watch.
void AddWatchCommand(CLI::App& app, Command* command);

// The user name velctl's requests carry.
extern const char kUser[];
// Keep-until names ("UNTIL_SPACE_NEEDED", "AT_LEAST_3_DAYS"...) and codes.
const std::map<std::string, int>& KeepUntilCodes();
// The names for an option's IsMember check.
std::vector<std::string> KeepUntilNames();

}  // namespace velctl

#endif  // TEV_TOOLS_VELCTL_COMMANDS_H_
