// What the page lists, kept fresh: the module's media in the library with
// the conflicts of each schedule, and whether the bus, the library and the
// module answer. A thread lists again every poll interval, at once when the
// module broadcasts a recording change (Poke), and a request that changed
// something lists again before it answers (Refresh).
//
// Every change it sees becomes an event of the hub:
//   "media"  {"changes": [{"id", "title", "state", "before"}...]}  (before
//            "" for a new medium, state "" for one that is gone)
//   "status" {"ok", "message"}   when reaching the bus, library or module
//            changes
//
// Threads: Start/Stop on the owner's; Current, Refresh and Poke from any.
#ifndef TEV_WEB_LIBRARYWATCH_H_
#define TEV_WEB_LIBRARYWATCH_H_

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "web/BusLink.h"
#include "web/EventHub.h"

namespace web {

struct LibraryView {
  std::vector<nlohmann::json> media;  // LibraryMedia objects with "conflicts" on schedules
  bool listed = false;                // false: media is the last list that worked, if any
  bool ok = false;                    // bus, library and module all answered
  std::string message;                // why not ok, said for a person
};

// The medium of that id in the view; null when there is none.
const nlohmann::json* FindIn(const LibraryView& view, const std::string& id);

class LibraryWatch {
 public:
  LibraryWatch(BusLink& bus, EventHub& events, int pollMs);
  ~LibraryWatch();
  LibraryWatch(const LibraryWatch&) = delete;
  LibraryWatch& operator=(const LibraryWatch&) = delete;

  void Start();
  void Stop();
  void Poke();
  // Lists now (waiting for a listing already under way) and answers it.
  std::shared_ptr<const LibraryView> Refresh();
  // Lists again until `done` holds for the listing or `waitMs` pass (the
  // module republishes some changes a moment after it answered); the last
  // listing.
  std::shared_ptr<const LibraryView> RefreshUntil(const std::function<bool(const LibraryView&)>& done, int waitMs);
  // The last listing; never null.
  std::shared_ptr<const LibraryView> Current() const;

 private:
  void Loop();
  // REQUIRES: refreshMu_ held.
  std::shared_ptr<const LibraryView> ListLocked();
  void AddConflicts(std::vector<nlohmann::json>* media);
  void Announce(const LibraryView& before, const LibraryView& after);

  // Constant after construction.
  BusLink& bus_;
  EventHub& events_;
  const int pollMs_;

  std::mutex refreshMu_;  // one listing at a time

  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::shared_ptr<const LibraryView> view_;  // guarded by mu_; never null
  bool poked_ = false;                        // guarded by mu_
  bool stopping_ = false;                     // guarded by mu_
  std::thread thread_;
};

}  // namespace web

#endif  // TEV_WEB_LIBRARYWATCH_H_
