// velctl schedule / cancel / retry.
#include <ctime>
#include <iostream>
#include <memory>

#include "tools/velctl_commands.h"
#include "tools/velctl_media.h"
#include "tools/velctl_time.h"

namespace velctl {

const char kUser[] = "viewer";

const std::map<std::string, int>& KeepUntilCodes() {
  static const std::map<std::string, int> codes = {
      {"UNTIL_SPACE_NEEDED", 1}, {"UNTIL_MANUALLY_DELETED", 2}, {"AT_LEAST_1_DAY", 11},
      {"AT_LEAST_2_DAYS", 12},   {"AT_LEAST_3_DAYS", 13},        {"AT_LEAST_4_DAYS", 14},
      {"AT_LEAST_5_DAYS", 15},   {"AT_LEAST_6_DAYS", 16},        {"AT_LEAST_7_DAYS", 17}};
  return codes;
}

std::vector<std::string> KeepUntilNames() {
  std::vector<std::string> names;
  for (const auto& entry : KeepUntilCodes()) names.push_back(entry.first);
  return names;
}

namespace {

using nlohmann::json;

struct ScheduleArguments {
  std::string channel, at, in, length = "30m", name, category, description, keep = "UNTIL_SPACE_NEEDED";
  bool now = false;
};

int Usage(const std::string& error) {
  std::cerr << "velctl: " << error << "\n";
  return kUsage;
}

int RunSchedule(Bus& bus, const ScheduleArguments& args) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  int64_t start = now, duration = 0;
  std::string error;
  if (!args.at.empty()) {
    if (!ParseAt(args.at, now, &start, &error)) return Usage(error);
    // The module would record a past start at once; a typo in the date should not,
    // unless --now asks for the rest of a programme on air.
    if (start < now && !args.now)
      return Usage("--at: " + FormatLocal(start) + " has passed (add --now to record the rest of it)");
  }
  if (!args.in.empty()) {
    int64_t delay = 0;
    if (!ParseDuration(args.in, &delay, &error)) return Usage(error);
    start = now + delay;
  }
  if (!ParseDuration(args.length, &duration, &error)) return Usage(error);
  if (duration * 1000 > 0x7fffffff) return Usage("--for: at most 596h");
  Channel channel;
  Answer found = FindChannel(bus, args.channel, &channel);
  if (found.exit != kOk) return Report(found);
  const std::string name = args.name.empty() ? channel.name : args.name;
  json params = json::array({kUser, channel.name, channel.id, StartDateForModule(start, now),
                             duration * 1000, name, args.category, args.description, "", "", "",
                             KeepUntilCodes().at(args.keep), args.now ? 1 : 0});
  Answer answer = bus.Call("ZoVIZ", "ScheduleRecording", params);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  std::string id = answer.out.is_string() ? answer.out.get<std::string>() : answer.out.dump();
  std::cout << "scheduled " << id << ": \"" << name << "\" on " << channel.name << " at "
            << FormatLocal(start) << " for " << FormatDuration(duration) << "\n";
  return kOk;
}

// A recording in progress is stopped with CancelScheduledRecording and kept
// (partial; a recording shorter than 20 s counts as failed). Anything else (a schedule still to come, a failed one, a
// pass) is removed the way a user removes it in the media library: the
// module is told the medium was deleted (UpdateMedium), then the library
// drops it.
int RunCancel(Bus& bus, const std::string& id) {
  std::vector<Medium> media;
  Answer listed = ListPvrMedia(bus, &media);
  if (listed.exit != kOk) return Report(listed);
  const Medium* found = nullptr;
  for (const Medium& medium : media) {
    if (medium.id == id) found = &medium;
  }
  if (found == nullptr && !bus.DryRun()) {
    std::cerr << "velctl: no schedule or pass " << id << " in the media library (velctl list shows them)\n";
    return kRefused;
  }
  if (found != nullptr && found->state == "recording") {
    Answer answer = bus.Call("ZoVIZ", "CancelScheduledRecording", id);
    if (answer.exit == kOk && !bus.DryRun()) std::cout << "stopped " << id << "\n";
    return Report(answer);
  }
  Answer answer = bus.Call("ZoVIZ", "UpdateMedium", json::array({1, id}));
  if (answer.exit != kOk) return Report(answer);
  json entry = json::array({json::array({"tevMediumId", id})});
  answer = bus.Call("any", "RemoveImportedMedia",
                    json::array({"PVR", json::array({entry}), {{"vt", "EMPTY"}}, false, true}));
  if (answer.exit == kOk && !bus.DryRun()) std::cout << "removed " << id << "\n";
  return Report(answer);
}

// RetrySchedule takes the medium id alone.
void AddByIdCommand(CLI::App& app, Command* command, const char* name, const char* method,
                    const char* help, const char* done) {
  auto id = std::make_shared<std::string>();
  CLI::App* sub = app.add_subcommand(name, help);
  sub->fallthrough();
  sub->add_option("id", *id, "medium id of the schedule, as velctl list shows it")->required();
  sub->callback([=]() {
    command->run = [=](Bus& bus) {
      Answer answer = bus.Call("ZoVIZ", method, *id);
      if (answer.exit == kOk && !bus.DryRun()) std::cout << done << " " << *id << "\n";
      return Report(answer);
    };
  });
}

}  // namespace

void AddRecordingCommands(CLI::App& app, Command* command) {
  auto args = std::make_shared<ScheduleArguments>();
  CLI::App* schedule = app.add_subcommand(
      "schedule", "record a channel once: at a local time (--at) or after a delay (--in)");
  schedule->fallthrough();
  schedule->add_option("--channel", args->channel, "channel name or medium id (velctl channels)")
      ->required();
  auto* at = schedule->add_option("--at", args->at,
                                  "local start: HH:MM (next occurrence) or \"YYYY-MM-DD HH:MM\" (default: now)");
  auto* in = schedule->add_option("--in", args->in, "start after this delay: 90s, 2m, 1h30m");
  at->excludes(in);
  schedule->add_option("--for", args->length, "length: 90s, 30m, 1h30m (a bare number is minutes)")
      ->capture_default_str();
  schedule->add_option("--name", args->name, "programme name (default: the channel name)");
  schedule->add_option("--category", args->category, "category");
  schedule->add_option("--description", args->description, "description");
  schedule->add_option("--keep", args->keep, "how long the recording is kept")
      ->check(CLI::IsMember(KeepUntilNames()))
      ->capture_default_str();
  schedule->add_flag("--now", args->now, "record at once, from now until the end");
  schedule->callback([args, command]() {
    command->run = [args](Bus& bus) { return RunSchedule(bus, *args); };
  });

  auto id = std::make_shared<std::string>();
  CLI::App* cancel = app.add_subcommand(
      "cancel", "stop a recording in progress (kept as partial), or remove a schedule or a pass");
  cancel->fallthrough();
  cancel->add_option("id", *id, "medium id, as velctl list or velctl passes shows it")->required();
  cancel->callback([=]() { command->run = [=](Bus& bus) { return RunCancel(bus, *id); }; });
  AddByIdCommand(app, command, "retry", "RetrySchedule", "schedule a failed recording again",
                 "retrying");
}

}  // namespace velctl
