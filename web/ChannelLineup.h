// The library's channels as the guide shows them: name, number, group and
// logo, read through "SearchMedia" and kept for a minute (a page paints a
// logo per row, and the line-up changes rarely).
//
// Logos: the library holds each channel's logo as the URL its playlist gave
// ("logo", from tvg-logo). The page never loads it from there: tev-web
// fetches that URL itself (http and https only; a redirect is followed only
// to the same scheme, host and port), keeps the image, and serves it from
// its own address. No other URL is ever fetched.
//
// Threads: every method from any thread, concurrently.
#ifndef TEV_WEB_CHANNELLINEUP_H_
#define TEV_WEB_CHANNELLINEUP_H_

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/BusLink.h"

namespace web {

struct LineupChannel {
  std::string id, name, number, group, mimeType, logoUrl;
};

struct Logo {
  std::string contentType, bytes;  // bytes empty: none to show
  std::string problem;             // why there is none
};

// Parts of an absolute http(s) URL; false for any other.
struct WebUrl {
  std::string scheme, host, path;  // path with its query, at least "/"
  int port = 0;
};
bool ParseWebUrl(const std::string& text, WebUrl* url);

// Whether number `a` comes before `b` in a line-up ("2" < "7.1" < "11").
bool NumberBefore(const std::string& a, const std::string& b);

class ChannelLineup {
 public:
  // Milliseconds of a clock that never goes back.
  typedef std::function<int64_t()> Clock;
  ChannelLineup(BusLink& bus, Clock clock);
  ~ChannelLineup();
  ChannelLineup(const ChannelLineup&) = delete;
  ChannelLineup& operator=(const ChannelLineup&) = delete;

  // The channels (tv.channel media) by number, then name; false with the
  // failed answer when the library could not be asked.
  bool Channels(std::vector<LineupChannel>* channels, velctl::Answer* failed);
  // The logo of the channel with medium id `id` (fetched once, then kept).
  Logo LogoOf(const std::string& id);

 private:
  Logo Fetch(const std::string& url);

  BusLink& bus_;
  const Clock clock_;

  std::mutex mu_;
  std::vector<LineupChannel> channels_;             // guarded by mu_
  int64_t listedMs_ = -1;                           // guarded by mu_; -1: never
  std::map<std::string, std::shared_future<Logo>> logos_;  // guarded by mu_; by URL
  std::map<std::string, int64_t> logoTimes_;        // guarded by mu_; when each was asked
};

}  // namespace web

#endif  // TEV_WEB_CHANNELLINEUP_H_
