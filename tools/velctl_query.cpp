// velctl list / channels / conflicts: what is scheduled, recorded and
// clashing, as the media library and the module see it.
#include <cstdio>
#include <iostream>
#include <memory>

#include "tools/velctl_commands.h"
#include "tools/velctl_media.h"
#include "tools/velctl_time.h"

namespace velctl {

namespace {

using nlohmann::json;

void PrintRow(const std::string& id, const std::string& state, const std::string& start,
              const std::string& length, const std::string& channel, const std::string& name) {
  std::printf("%-8s %-10s %-16s %-7s %-14s %s\n", id.c_str(), state.c_str(), start.c_str(),
              length.c_str(), channel.c_str(), name.c_str());
}

int RunList(Bus& bus, bool all) {
  std::vector<Medium> media;
  Answer answer = ListPvrMedia(bus, &media, all);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  PrintRow("ID", "STATE", "START", "LENGTH", "CHANNEL", "NAME");
  for (const Medium& medium : media) {
    if (medium.IsPass()) continue;
    if (!all && medium.IsDeleted()) continue;
    std::string name = medium.Name();
    if (!medium.failure.empty()) name += " (" + medium.failure + ")";
    if (!medium.conflictReason.empty()) name += "  " + medium.conflictReason;
    PrintRow(medium.id, medium.IsDeleted() ? "deleted" : medium.state, medium.start.substr(0, 16),
             FormatDuration(medium.durationMs / 1000), medium.channel, name);
  }
  return kOk;
}

int RunChannels(Bus& bus) {
  std::vector<Channel> channels;
  Answer answer = ListChannels(bus, &channels);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  for (const Channel& channel : channels) {
    std::printf("%-14s %-20s %s\n", channel.id.c_str(), channel.name.c_str(), channel.mimeType.c_str());
  }
  return kOk;
}

// GetConflicts of one schedule; 101 means "there are conflicts", not a refusal.
int PrintConflicts(Bus& bus, const std::string& id, const std::string& title, bool* any) {
  Answer answer = bus.Call("ZoVIZ", "GetConflicts", json::array({id}));
  if (answer.exit == kRefused && answer.ret == 101) answer.exit = kOk;
  if (answer.exit != kOk) return Report(answer);
  if (!answer.out.is_array() || answer.out.empty() || !answer.out[0].is_array()) return kOk;
  for (const json& clash : answer.out[0]) {
    if (!clash.is_array() || clash.size() < 8) continue;
    *any = true;
    std::cout << id << (title.empty() ? "" : " ") << title << " conflicts with " << TextOf(clash[1])
              << " \"" << TextOf(clash[0]) << "\" on " << TextOf(clash[2]) << " ("
              << TextOf(clash[7]) << ")\n";
  }
  return kOk;
}

// The library's words for why the schedule will not be recorded, when it has them.
void PrintReason(const Medium& medium, bool* any) {
  if (medium.conflictReason.empty()) return;
  *any = true;
  std::cout << medium.id << " \"" << medium.Name() << "\": " << medium.conflictReason << "\n";
}

int RunConflicts(Bus& bus, const std::string& id) {
  bool any = false;
  if (!id.empty()) {
    int exit = PrintConflicts(bus, id, "", &any);
    if (exit != kOk || bus.DryRun()) return exit;
    // The reason is a bonus here: a library that does not answer leaves the clashes.
    std::vector<Medium> media;
    ListPvrMedia(bus, &media);
    for (const Medium& medium : media) {
      if (medium.id == id) PrintReason(medium, &any);
    }
    if (!any) std::cout << "no conflicts\n";
    return kOk;
  }
  std::vector<Medium> media;
  Answer answer = ListPvrMedia(bus, &media);
  if (answer.exit != kOk || bus.DryRun()) return Report(answer);
  for (const Medium& medium : media) {
    if (medium.IsPass() || (medium.state != "schedule" && medium.state != "conflict" &&
                            medium.state != "skip")) {
      continue;
    }
    int exit = PrintConflicts(bus, medium.id, "\"" + medium.Name() + "\"", &any);
    if (exit != kOk) return exit;
    PrintReason(medium, &any);
  }
  if (!any) std::cout << "no conflicts\n";
  return kOk;
}

}  // namespace

void AddQueryCommands(CLI::App& app, Command* command) {
  auto all = std::make_shared<bool>(false);
  CLI::App* list = app.add_subcommand("list", "schedules and recordings with their states");
  list->fallthrough();
  list->add_flag("--all", *all, "also recordings and episodes that were removed (state deleted)");
  list->callback([=]() { command->run = [=](Bus& bus) { return RunList(bus, *all); }; });

  CLI::App* channels = app.add_subcommand("channels", "channels that can be recorded");
  channels->fallthrough();
  channels->callback([=]() { command->run = RunChannels; });

  auto id = std::make_shared<std::string>();
  CLI::App* conflicts = app.add_subcommand(
      "conflicts", "schedules that cannot all be recorded with the tuners there are");
  conflicts->fallthrough();
  conflicts->add_option("id", *id, "only this schedule (default: every pending one)");
  conflicts->callback([=]() { command->run = [=](Bus& bus) { return RunConflicts(bus, *id); }; });
}

}  // namespace velctl
