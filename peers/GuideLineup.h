// The guide in the library's words. XMLTV files name channels by ids of
// their own ("I21760.labs.zap2it.com") and by display names; the module
// compares the guide's channel names with the library's, so every guide
// channel is answered under the name and medium id of the library channel
// that claims it:
//   1. a library channel whose guide id ("xmltvId", from tvg-id) is the
//      guide channel's id (several may claim one: an SD and an HD copy);
//   2. else a library channel not linked by id whose name (or one of its
//      "guideNames", a tuner's numbers) equals one of the guide channel's
//      display names or its id, ignoring case, spaces and punctuation;
//   3. else the guide channel is left out of answers.
// A library without any channel has nothing to be named after: the guide
// then answers under its own names.
#ifndef TEV_PEERS_GUIDELINEUP_H_
#define TEV_PEERS_GUIDELINEUP_H_

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "peers/Peers.h"

namespace tev {
namespace peers {

class MediaStore;

// A guide mapping's outcome, for the log.
struct GuideMatchReport {
  size_t guideChannels = 0;
  size_t matched = 0;
  // Guide channels left out, as "ID (display name)".
  std::vector<std::string> unmatched;
};

// Maps the guide onto the library channels (medium id -> channel
// properties as the store keeps them).
std::vector<GuideChannel> MapGuideToLibrary(
    std::vector<GuideChannel> guide,
    const std::vector<std::pair<std::wstring, nlohmann::json>>& library, GuideMatchReport* report);

// Loads the guide files, maps them onto the store's channels and hands the
// result to the guide peer, again whenever a file changes (inotify on the
// files' folders, so that a file replaced by a rename counts too) and at
// the latest every `refreshSeconds`.
//
// Threads: Start runs one watcher thread; the destructor stops and joins
// it. `log` is called from both.
class GuideFiles {
 public:
  struct Options {
    std::vector<std::string> paths;
    bool shiftSamples = true;  // move past sample listings to this week
    int refreshSeconds = 86400;
  };
  GuideFiles(Options options, MediaStore& store, GuidePeer& peer,
             std::function<void(const std::string&)> log);
  ~GuideFiles();
  GuideFiles(const GuideFiles&) = delete;
  GuideFiles& operator=(const GuideFiles&) = delete;

  // Reads and serves the files now. False with *error when one cannot be
  // read or parsed (the guide keeps what it served before).
  bool Load(std::string* error);
  // Starts watching. False when inotify is not available (the daily
  // re-read still runs).
  bool Start();
  // Number of completed loads, for tests and the log.
  int Loads() const { return loads_; }

 private:
  void Watch();

  const Options options_;
  MediaStore& store_;
  GuidePeer& peer_;
  const std::function<void(const std::string&)> log_;
  int inotify_ = -1;
  int wake_ = -1;  // eventfd that ends the watcher
  std::thread watcher_;
  std::atomic<int> loads_{0};
};

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_GUIDELINEUP_H_
