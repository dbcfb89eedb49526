// velctl passes / pass add: season passes ("Tev Pass"), standing orders to
// record every episode of a programme.
#include <cctype>
#include <ctime>
#include <iostream>
#include <memory>

#include "tools/velctl_commands.h"
#include "tools/velctl_media.h"
#include "tools/velctl_time.h"

namespace velctl {

namespace {

using nlohmann::json;

const char* const kModes[] = {"ALL_EPISODES",          "ONLY_NEW_EPISODES",
                              "DAILY_AT_SAME_TIME",    "WEEKLY_AT_SAME_TIME",
                              "WEEKDAYS_AT_SAME_TIME", "WEEKENDS_AT_SAME_TIME"};

struct PassArguments {
  std::string from, channel, at, in, length = "30m", name, category, mode = "ALL_EPISODES";
  std::string guide = "auto";
  int priority = 0;
  std::string keep = "UNTIL_SPACE_NEEDED";
  bool anyChannel = false;
};

int ModeNumber(const std::string& mode) {
  for (int i = 0; i < 6; ++i) {
    if (mode == kModes[i]) return i + 1;
  }
  return 0;
}

int RunPassAdd(Bus& bus, const PassArguments& args) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const int guide = args.guide == "yes" ? 1 : args.guide == "no" ? 0 : -1;
  json priority = args.priority > 0 ? json(args.priority) : json{{"vt", "EMPTY"}};
  json params = json::array({std::string(kUser), !args.anyChannel, ModeNumber(args.mode), "",
                             KeepUntilCodes().at(args.keep), guide, priority, args.from});
  std::string error;
  if (args.from.empty()) {
    if (args.channel.empty() || args.name.empty()) {
      std::cerr << "velctl: pass add needs --from ID, or --channel and --name\n";
      return kUsage;
    }
    int64_t start = now, duration = 0;
    if (!args.at.empty() && !ParseAt(args.at, now, &start, &error)) {
      std::cerr << "velctl: " << error << "\n";
      return kUsage;
    }
    int64_t delay = 0;
    if (!args.in.empty()) {
      if (!ParseDuration(args.in, &delay, &error)) {
        std::cerr << "velctl: " << error << "\n";
        return kUsage;
      }
      start = now + delay;
    }
    if (!ParseDuration(args.length, &duration, &error)) {
      std::cerr << "velctl: " << error << "\n";
      return kUsage;
    }
    Channel channel;
    Answer found = FindChannel(bus, args.channel, &channel);
    if (found.exit != kOk) return Report(found);
    for (const json& value : {StartDateForModule(start, now), json(duration * 1000),
                              json(channel.name), json(channel.id), json(args.name), json(args.category)}) {
      params.push_back(value);
    }
  }
  Answer answer = bus.Call("ZoVIZ", "AddTevPass", params);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  std::string id = answer.out.is_array() && !answer.out.empty() ? TextOf(answer.out[0]) : std::string();
  std::cout << "pass " << id << " added: " << args.mode << "\n";
  return kOk;
}

int RunPasses(Bus& bus) {
  std::vector<Medium> media;
  Answer answer = ListPvrMedia(bus, &media);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  std::printf("%-8s %-22s %-14s %s\n", "ID", "MODE", "CHANNEL", "PROGRAMME");
  for (const Medium& medium : media) {
    if (!medium.IsPass()) continue;
    std::printf("%-8s %-22s %-14s %s\n", medium.id.c_str(), medium.scheduleMode.c_str(),
                medium.channel.c_str(), medium.title.c_str());
  }
  return kOk;
}

}  // namespace

void AddPassCommands(CLI::App& app, Command* command) {
  CLI::App* passes = app.add_subcommand("passes", "season passes");
  passes->fallthrough();
  passes->callback([=]() { command->run = RunPasses; });

  auto args = std::make_shared<PassArguments>();
  CLI::App* pass = app.add_subcommand("pass", "change season passes");
  pass->fallthrough();
  pass->require_subcommand(1);
  CLI::App* add = pass->add_subcommand(
      "add", "record every episode: from a schedule (--from) or from a channel, time and name");
  add->fallthrough();
  add->add_option("--from", args->from, "medium id of a schedule to make the pass from");
  add->add_option("--channel", args->channel, "channel name or medium id");
  add->add_option("--at", args->at, "local start of an episode: HH:MM or \"YYYY-MM-DD HH:MM\"");
  add->add_option("--in", args->in, "start of an episode after this delay: 90s, 2m, 1h30m");
  add->add_option("--for", args->length, "length of an episode: 90s, 30m, 1h30m")
      ->capture_default_str();
  add->add_option("--name", args->name, "programme name");
  add->add_option("--category", args->category, "category");
  std::vector<std::string> modes(std::begin(kModes), std::end(kModes));
  add->add_option("--mode", args->mode, "which episodes")->check(CLI::IsMember(modes))
      ->capture_default_str();
  add->add_option("--guide", args->guide,
                  "find episodes in the programme guide: yes, no, or auto (yes for TV)")
      ->check(CLI::IsMember({"auto", "yes", "no"}))
      ->capture_default_str();
  add->add_option("--priority", args->priority, "1 is the highest; 0 puts it last")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  add->add_option("--keep", args->keep, "how long its recordings are kept")
      ->check(CLI::IsMember(KeepUntilNames()))
      ->capture_default_str();
  add->add_flag("--any-channel", args->anyChannel, "also episodes on other channels");
  add->callback([=]() { command->run = [=](Bus& bus) { return RunPassAdd(bus, *args); }; });
}

}  // namespace velctl
