#include "peers/GuideLineup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <unordered_map>

#include "peers/ChannelLineup.h"
#include "peers/MediaStore.h"
#include "peers/XmltvGuide.h"
#include "platform/WideText.h"

namespace tev {
namespace peers {

namespace {

using nlohmann::json;

std::string Text(const json& props, const char* key) {
  auto found = props.find(key);
  return found != props.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int64_t LocalNow() {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return static_cast<int64_t>(now) + local.tm_gmtoff;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<GuideChannel> MapGuideToLibrary(
    std::vector<GuideChannel> guide,
    const std::vector<std::pair<std::wstring, json>>& library, GuideMatchReport* report) {
  report->guideChannels = guide.size();
  report->matched = 0;
  report->unmatched.clear();
  if (library.empty()) {
    report->matched = guide.size();
    return guide;
  }
  std::unordered_map<std::string, std::vector<size_t>> byGuideId;
  for (size_t i = 0; i < library.size(); ++i) {
    const std::string guideId = Text(library[i].second, "xmltvId");
    if (!guideId.empty()) byGuideId[guideId].push_back(i);
  }
  // Channels whose guide id the guide has are taken; the rest may be found
  // by name.
  std::set<size_t> linked;
  for (const GuideChannel& channel : guide) {
    auto found = byGuideId.find(tev::ToStdUtf8(channel.mediumId));
    if (found != byGuideId.end()) linked.insert(found->second.begin(), found->second.end());
  }
  std::unordered_map<std::string, std::vector<size_t>> byName;
  for (size_t i = 0; i < library.size(); ++i) {
    if (linked.count(i) != 0) continue;
    const json& props = library[i].second;
    std::set<std::string> keys{NameKey(Text(props, "name")), NameKey(Text(props, "title"))};
    auto names = props.find("guideNames");
    if (names != props.end() && names->is_array()) {
      for (const json& name : *names) {
        if (name.is_string()) keys.insert(NameKey(name.get<std::string>()));
      }
    }
    for (const std::string& key : keys) {
      if (!key.empty()) byName[key].push_back(i);
    }
  }

  std::vector<GuideChannel> mapped;
  for (GuideChannel& channel : guide) {
    const std::string guideId = tev::ToStdUtf8(channel.mediumId);
    std::vector<size_t> owners;
    auto byId = byGuideId.find(guideId);
    if (byId != byGuideId.end()) {
      owners = byId->second;
    } else {
      std::set<size_t> found;
      std::vector<std::wstring> names = channel.displayNames;
      names.push_back(channel.mediumId);
      for (const std::wstring& name : names) {
        auto hit = byName.find(NameKey(tev::ToStdUtf8(name)));
        if (hit != byName.end()) found.insert(hit->second.begin(), hit->second.end());
      }
      owners.assign(found.begin(), found.end());
    }
    if (owners.empty()) {
      std::string entry = guideId;
      if (!channel.displayNames.empty()) entry += " (" + tev::ToStdUtf8(channel.displayNames[0]) + ")";
      report->unmatched.push_back(entry);
      continue;
    }
    ++report->matched;
    for (size_t k = 0; k < owners.size(); ++k) {
      const std::pair<std::wstring, json>& owner = library[owners[k]];
      GuideChannel named;
      const std::string name = Text(owner.second, "name");
      named.name = tev::FromStdUtf8(name.empty() ? Text(owner.second, "title") : name);
      named.mediumId = owner.first;
      const std::string mimetype = Text(owner.second, "mimeType");
      named.mimetype = mimetype.empty() ? L"video/x-tv" : tev::FromStdUtf8(mimetype);
      named.extra = channel.extra;
      // The last owner takes the programmes, the others a copy.
      if (k + 1 == owners.size()) {
        named.programs = std::move(channel.programs);
      } else {
        named.programs = channel.programs;
      }
      mapped.push_back(std::move(named));
    }
  }
  return mapped;
}

GuideFiles::GuideFiles(Options options, MediaStore& store, GuidePeer& peer,
                       std::function<void(const std::string&)> log)
    : options_(std::move(options)), store_(store), peer_(peer), log_(std::move(log)) {}

GuideFiles::~GuideFiles() {
  if (watcher_.joinable()) {
    const uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
      // The watcher then ends at its next timeout; nothing better to do.
    }
    watcher_.join();
  }
  if (inotify_ >= 0) close(inotify_);
  if (wake_ >= 0) close(wake_);
}

bool GuideFiles::Load(std::string* error) {
  std::vector<GuideChannel> listings;
  std::string warning;
  if (!LoadXmltvFiles(options_.paths, &listings, &warning)) {
    *error = warning;
    return false;
  }
  if (!warning.empty()) log_("WARN " + warning);
  if (options_.shiftSamples) {
    const int64_t days = ShiftPastListings(&listings, LocalNow());
    if (days > 0) log_("sample listings moved by " + std::to_string(days) + " days");
    if (days > 0 && FillComingWeek(&listings, LocalNow()) > 0) {
      log_("sample listings repeated to cover the week");
    }
  }
  GuideMatchReport report;
  size_t programmes = 0;
  for (const GuideChannel& channel : listings) programmes += channel.programs.size();
  std::vector<GuideChannel> mapped =
      MapGuideToLibrary(std::move(listings), store_.Find({{"source", "channels"}}), &report);
  peer_.SetListings(std::move(mapped));
  log_("INFO guide: " + std::to_string(programmes) + " programmes; " +
       std::to_string(report.matched) + " of " + std::to_string(report.guideChannels) +
       " guide channels matched the channel line-up");
  if (!report.unmatched.empty()) {
    std::string list;
    for (const std::string& entry : report.unmatched) list += (list.empty() ? "" : ", ") + entry;
    log_("INFO guide channels that no line-up channel claims (left out): " + list);
  }
  ++loads_;
  return true;
}

bool GuideFiles::Start() {
  wake_ = eventfd(0, EFD_CLOEXEC);
  inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotify_ >= 0) {
    std::set<std::string> folders;
    for (const std::string& path : options_.paths) folders.insert(Folder(path));
    for (const std::string& folder : folders) {
      if (inotify_add_watch(inotify_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        log_("WARN guide: cannot watch " + folder + "; it is read again daily");
      }
    }
  }
  watcher_ = std::thread(&GuideFiles::Watch, this);
  return inotify_ >= 0;
}

void GuideFiles::Watch() {
  std::set<std::string> names;
  for (const std::string& path : options_.paths) names.insert(BaseName(path));
  typedef std::chrono::steady_clock Clock;
  auto due = Clock::now() + std::chrono::seconds(options_.refreshSeconds);
  bool changed = false;
  for (;;) {
    // A change is read once writes have settled for a moment.
    const auto now = Clock::now();
    int timeout = changed ? 300
                          : static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 due - now).count());
    if (timeout < 0) timeout = 0;
    pollfd fds[2] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}};
    const int ready = poll(fds, inotify_ >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
    bool touched = false;
    if (inotify_ >= 0 && (fds[1].revents & POLLIN)) {
      alignas(inotify_event) char buffer[8192];
      for (;;) {
        const ssize_t got = read(inotify_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
          const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
          if ((event->mask & IN_Q_OVERFLOW) ||
              (event->len > 0 && names.count(event->name) != 0)) {
            touched = true;
          }
          at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
      }
    }
    if (touched) {
      changed = true;
      continue;
    }
    if (ready == 0 && (changed || Clock::now() >= due)) {
      std::string error;
      log_(changed ? "guide: a guide file changed, reading it again"
                   : "guide: reading the guide files again (daily)");
      if (!Load(&error)) log_("ERROR guide: " + error + "; the guide is served as it was");
      changed = false;
      due = Clock::now() + std::chrono::seconds(options_.refreshSeconds);
    }
  }
}

}  // namespace peers
}  // namespace tev
