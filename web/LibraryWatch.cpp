#include "web/LibraryWatch.h"

#include <chrono>
#include <set>

#include "tools/velctl_media.h"
#include "web/LibraryMedia.h"
#include "web/RecordingFiles.h"

namespace web {

using nlohmann::json;

LibraryWatch::LibraryWatch(BusLink& bus, EventHub& events, int pollMs)
    : bus_(bus), events_(events), pollMs_(pollMs), view_(std::make_shared<LibraryView>()) {
  auto first = std::make_shared<LibraryView>();
  first->message = "connecting to the bus";
  view_ = first;
}

LibraryWatch::~LibraryWatch() { Stop(); }

void LibraryWatch::Start() { thread_ = std::thread([this] { Loop(); }); }

void LibraryWatch::Stop() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LibraryWatch::Poke() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    poked_ = true;
  }
  wake_.notify_all();
}

std::shared_ptr<const LibraryView> LibraryWatch::Current() const {
  std::lock_guard<std::mutex> hold(mu_);
  return view_;
}

std::shared_ptr<const LibraryView> LibraryWatch::Refresh() {
  std::lock_guard<std::mutex> hold(refreshMu_);
  return ListLocked();
}

std::shared_ptr<const LibraryView> LibraryWatch::RefreshUntil(
    const std::function<bool(const LibraryView&)>& done, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    std::shared_ptr<const LibraryView> view = Refresh();
    if (done(*view) || std::chrono::steady_clock::now() >= deadline) return view;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

const json* FindIn(const LibraryView& view, const std::string& id) {
  for (const json& medium : view.media) {
    if (medium["id"] == id) return &medium;
  }
  return nullptr;
}

void LibraryWatch::Loop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(mu_);
      wake_.wait_for(hold, std::chrono::milliseconds(pollMs_), [this] { return stopping_ || poked_; });
      if (stopping_) return;
      poked_ = false;
    }
    Refresh();
  }
}

std::shared_ptr<const LibraryView> LibraryWatch::ListLocked() {
  auto view = std::make_shared<LibraryView>();
  std::shared_ptr<const LibraryView> before = Current();
  velctl::Answer listed = ListLibraryMedia(bus_, &view->media);
  if (listed.exit == velctl::kOk) {
    view->listed = true;
    AddConflicts(&view->media);
    AddFileFacts(bus_, &view->media);
    // The module answers even an idle request only while it runs.
    velctl::Answer module = bus_.Call("ZoVIZ", "GetPVRRecordPadding");
    view->ok = module.exit == velctl::kOk;
    // A module that just went away may still be subscribed: then the bus
    // only says that "ZoVIZ" did not answer in time.
    if (!view->ok) {
      view->message = module.error.find("tevpvr-host") != std::string::npos
                          ? module.error
                          : "the module (tevpvr-host) does not answer: " + module.error;
    }
  } else {
    view->media = before->media;  // the page keeps showing the last list
    view->message = listed.error;
  }
  {
    std::lock_guard<std::mutex> hold(mu_);
    view_ = view;
  }
  Announce(*before, *view);
  return view;
}

namespace {

// Adds `clash` to the list unless it names a medium the list has.
void AddClash(json* list, const json& clash) {
  for (const json& known : *list) {
    if (known["id"] == clash["id"]) return;
  }
  list->push_back(clash);
}

}  // namespace

void LibraryWatch::AddConflicts(std::vector<json>* media) {
  std::map<std::string, json> clashes;  // medium id -> the media it clashes with
  for (json& medium : *media) {
    // A skipped schedule may have been bumped by a higher priority: it shows
    // what keeps it from recording too.
    if (medium["kind"] != "schedule" || (medium["state"] != "conflict" && medium["state"] != "skip")) continue;
    const std::string id = medium["id"];
    velctl::Answer answer = bus_.Call("ZoVIZ", "GetConflicts", json::array({id}));
    // 101 says that there are conflicts; anything else lists none.
    if (answer.ret != 101 || !answer.out.is_array() || answer.out.empty() || !answer.out[0].is_array()) {
      continue;
    }
    for (const json& clash : answer.out[0]) {
      if (!clash.is_array() || clash.size() < 8) continue;
      const std::string other = velctl::TextOf(clash[1]);
      AddClash(&clashes[id], {{"id", other}, {"title", velctl::TextOf(clash[0])},
                              {"channel", velctl::TextOf(clash[2])}, {"state", velctl::TextOf(clash[7])}});
      AddClash(&clashes[other], {{"id", id}, {"title", medium["title"]}, {"channel", medium["channel"]},
                                 {"state", medium["state"]}});
    }
  }
  for (json& medium : *media) {
    if (medium["kind"] != "schedule") continue;
    auto found = clashes.find(medium["id"].get<std::string>());
    medium["conflicts"] = found == clashes.end() ? json::array() : found->second;
  }
}

void LibraryWatch::Announce(const LibraryView& before, const LibraryView& after) {
  if (before.ok != after.ok || before.message != after.message) {
    events_.Publish("status", {{"ok", after.ok}, {"message", after.message}});
  }
  if (!after.listed) return;
  std::map<std::string, const json*> old;
  for (const json& medium : before.media) old[medium["id"].get<std::string>()] = &medium;
  json changes = json::array();
  std::set<std::string> seen;
  for (const json& medium : after.media) {
    const std::string id = medium["id"];
    seen.insert(id);
    auto found = old.find(id);
    if (found != old.end() && *found->second == medium) continue;
    changes.push_back({{"id", id}, {"title", medium["title"]}, {"kind", medium["kind"]},
                       {"state", medium["state"]},
                       {"before", found == old.end() ? json("") : (*found->second)["state"]}});
  }
  for (const auto& entry : old) {
    if (seen.count(entry.first) != 0) continue;
    changes.push_back({{"id", entry.first}, {"title", (*entry.second)["title"]},
                       {"kind", (*entry.second)["kind"]}, {"state", ""},
                       {"before", (*entry.second)["state"]}});
  }
  if (!changes.empty()) events_.Publish("media", {{"changes", changes}});
}

}  // namespace web
