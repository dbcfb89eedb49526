// velctl watch: prints one line per recording event until SIGINT or SIGTERM.
//
// Events come from comparing successive listings of the module's media in
// the media library (the module republishes a schedule at every change a
// user can see); the module's broadcasts NotifyStartRecording,
// NotifyStopRecording and NotifyPVRRecordingChange make the next listing
// come at once instead of at the next poll. With --ready it first prints
// "ready" once the engine has started: the engine broadcasts
// NotifyPVRRecordingChange when its start-up is done, and an engine that had
// already started answers a non-empty video folder; either way only after
// the first listing of the media library.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

#include "tools/velctl_commands.h"
#include "tools/velctl_events.h"
#include "tools/velctl_media.h"

namespace velctl {

namespace {

struct WatchState {
  bool announceReady = false;
  int pollMs = 1000;
  std::atomic<bool> engineStarted{false};
  std::atomic<bool> poke{false};
  sigset_t stop;
};

std::string Clock() {
  time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

bool EngineAnswers(Bus& bus) {
  Answer answer = bus.Call("ZoVIZ", "GetPVRVideoRecordingDirectory");
  return answer.exit == kOk && !TextOf(answer.out).empty();
}

int RunWatch(Bus& bus, WatchState& state) {
  using Steady = std::chrono::steady_clock;
  if (bus.DryRun()) {
    std::vector<Medium> media;
    return Report(ListPvrMedia(bus, &media));
  }
  bool ready = !state.announceReady;
  bool baseline = false;
  std::map<std::string, Medium> known;
  Steady::time_point nextPoll = Steady::now(), nextProbe = Steady::now();
  for (;;) {
    struct timespec wait = {0, 200 * 1000 * 1000};
    if (sigtimedwait(&state.stop, nullptr, &wait) > 0) return kOk;
    const Steady::time_point now = Steady::now();
    if (state.poke.exchange(false) || now >= nextPoll) {
      nextPoll = now + std::chrono::milliseconds(state.pollMs);
      std::vector<Medium> media;
      if (ListPvrMedia(bus, &media).exit == kOk) {
        if (baseline) {
          for (const std::string& line : Events(known, media)) std::cout << Clock() << " " << line << std::endl;
        }
        baseline = true;
        known.clear();
        for (const Medium& medium : media) known[medium.id] = medium;
      }
    }
    // "ready" only once the first listing is held, so that every change
    // after it is reported.
    if (!ready && baseline && (state.engineStarted || (now >= nextProbe && EngineAnswers(bus)))) {
      ready = true;
      std::cout << "ready" << std::endl;
    }
    if (now >= nextProbe) nextProbe = now + std::chrono::seconds(2);
  }
}

}  // namespace

void AddWatchCommand(CLI::App& app, Command* command) {
  auto state = std::make_shared<WatchState>();
  CLI::App* watch = app.add_subcommand(
      "watch", "print a line per recording event (scheduled, started, finished, failed) until "
               "interrupted");
  watch->fallthrough();
  watch->add_flag("--ready", state->announceReady, "first print \"ready\" once the engine has started");
  watch->add_option("--poll", state->pollMs, "milliseconds between listings of the media library")
      ->check(CLI::Range(100, 60000))
      ->capture_default_str();
  watch->callback([=]() {
    command->prepare = [=](Bus& bus) {
      // Blocked before the bus threads exist, so that sigtimedwait gets them.
      sigemptyset(&state->stop);
      sigaddset(&state->stop, SIGINT);
      sigaddset(&state->stop, SIGTERM);
      pthread_sigmask(SIG_BLOCK, &state->stop, nullptr);
      bus.Offer("NotifyPVRRecordingChange", [state](const nlohmann::json&) {
        state->engineStarted = true;
        state->poke = true;
        return 0;
      });
      for (const char* method : {"NotifyStartRecording", "NotifyStopRecording"}) {
        bus.Offer(method, [state](const nlohmann::json&) {
          state->poke = true;
          return 0;
        });
      }
    };
    command->run = [=](Bus& bus) { return RunWatch(bus, *state); };
  });
}

}  // namespace velctl
