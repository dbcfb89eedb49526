#include "web/ChannelLineup.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/velctl_media.h"

namespace web {

namespace {

using nlohmann::json;
using velctl::TextOf;

const int64_t kListKeepMs = 60 * 1000;
const int64_t kLogoKeepMs = 24 * 3600 * 1000LL;
// A logo that could not be had is tried again after this.
const int64_t kMissingKeepMs = 5 * 60 * 1000;
const size_t kMaxLogoBytes = 1 << 20;
const size_t kMaxLogos = 4000;
const int kMaxRedirects = 3;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Raster images only: an SVG could carry script to a page that opens it.
bool IsShownImage(const std::string& contentType) {
  const std::string type = Lower(contentType.substr(0, contentType.find(';')));
  static const char* const kTypes[] = {"image/png", "image/jpeg", "image/gif", "image/webp",
                                       "image/x-icon", "image/vnd.microsoft.icon", "image/bmp", "image/avif"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// A number's parts ("7.1" -> 7, 1); text that is no number sorts last.
std::vector<long> NumberParts(const std::string& number) {
  std::vector<long> parts;
  const char* at = number.c_str();
  while (*at) {
    char* end = nullptr;
    const long part = std::strtol(at, &end, 10);
    if (end == at || part < 0) return {};
    parts.push_back(part);
    if (*end != '.' && *end != '-') return *end ? std::vector<long>() : parts;
    at = end + 1;
  }
  return parts;
}

}  // namespace

bool ParseWebUrl(const std::string& text, WebUrl* url) {
  const size_t colon = text.find("://");
  if (colon == std::string::npos) return false;
  url->scheme = Lower(text.substr(0, colon));
  if (url->scheme != "http" && url->scheme != "https") return false;
  const size_t hostStart = colon + 3;
  const size_t pathStart = text.find_first_of("/?#", hostStart);
  std::string authority = text.substr(hostStart, pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
  // Credentials in a URL are not sent anywhere.
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  if (text.find_first_of(" \t\r\n\"<>\\") != std::string::npos) return false;
  url->port = url->scheme == "https" ? 443 : 80;
  const size_t bracket = authority.rfind(']');
  const size_t portColon = authority.rfind(':');
  if (portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket)) {
    const std::string port = authority.substr(portColon + 1);
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 1 || value > 65535) return false;
    url->port = static_cast<int>(value);
    authority.resize(portColon);
  }
  if (authority.empty()) return false;
  url->host = Lower(authority);
  url->path = pathStart == std::string::npos ? "/" : text.substr(pathStart);
  url->path = url->path.substr(0, url->path.find('#'));
  if (url->path.empty() || url->path[0] != '/') url->path = "/" + url->path;
  return true;
}

bool NumberBefore(const std::string& a, const std::string& b) {
  const std::vector<long> x = NumberParts(a), y = NumberParts(b);
  if (x.empty() != y.empty()) return !x.empty();
  return x < y;
}

ChannelLineup::ChannelLineup(BusLink& bus, Clock clock) : bus_(bus), clock_(std::move(clock)) {}

ChannelLineup::~ChannelLineup() = default;

bool ChannelLineup::Channels(std::vector<LineupChannel>* channels, velctl::Answer* failed) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (listedMs_ >= 0 && clock_() - listedMs_ < kListKeepMs) {
      *channels = channels_;
      return true;
    }
  }
  velctl::Answer answer =
      bus_.Call("Any", "SearchMedia",
                json::array({"web", "", "title, mimeType, mediaType, number, logo, group", "", "", 0, 100000}));
  if (answer.exit != velctl::kOk) {
    *failed = answer;
    return false;
  }
  std::vector<LineupChannel> listed;
  const json& found = answer.out.is_array() && !answer.out.empty() ? answer.out[0] : json();
  if (found.is_array() && found.size() >= 5 && found[4].is_array()) {
    for (const json& record : found[4]) {
      if (!record.is_array() || record.size() < 7 || TextOf(record[3]).rfind("tv.channel", 0) != 0) continue;
      listed.push_back(LineupChannel{TextOf(record[0]), TextOf(record[1]), TextOf(record[4]), TextOf(record[6]),
                                     TextOf(record[2]), TextOf(record[5])});
    }
  }
  std::stable_sort(listed.begin(), listed.end(), [](const LineupChannel& a, const LineupChannel& b) {
    if (NumberBefore(a.number, b.number)) return true;
    if (NumberBefore(b.number, a.number)) return false;
    return Lower(a.name) < Lower(b.name);
  });
  std::lock_guard<std::mutex> hold(mu_);
  channels_ = listed;
  listedMs_ = clock_();
  *channels = std::move(listed);
  return true;
}

Logo ChannelLineup::LogoOf(const std::string& id) {
  std::vector<LineupChannel> channels;
  velctl::Answer failed;
  if (!Channels(&channels, &failed)) return Logo{"", "", failed.error};
  auto channel = std::find_if(channels.begin(), channels.end(),
                              [&id](const LineupChannel& c) { return c.id == id; });
  if (channel == channels.end()) return Logo{"", "", "no channel has that id"};
  if (channel->logoUrl.empty()) return Logo{"", "", "the channel has no logo"};
  const std::string url = channel->logoUrl;
  std::shared_future<Logo> logo;
  std::promise<Logo> mine;
  bool fetching = false;
  {
    std::lock_guard<std::mutex> hold(mu_);
    const int64_t now = clock_();
    auto found = logos_.find(url);
    if (found != logos_.end() && found->second.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      const Logo& kept = found->second.get();
      const int64_t keep = kept.bytes.empty() ? kMissingKeepMs : kLogoKeepMs;
      if (now - logoTimes_[url] >= keep) found = logos_.end();
    }
    if (found != logos_.end()) {
      logo = found->second;
    } else {
      if (logos_.size() >= kMaxLogos) {
        logos_.clear();
        logoTimes_.clear();
      }
      logo = mine.get_future().share();
      logos_[url] = logo;
      logoTimes_[url] = now;
      fetching = true;
    }
  }
  if (fetching) mine.set_value(Fetch(url));
  return logo.get();
}

Logo ChannelLineup::Fetch(const std::string& text) {
  Logo logo;
  WebUrl url;
  if (!ParseWebUrl(text, &url)) {
    logo.problem = "the logo is not an http or https URL";
    return logo;
  }
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    httplib::Client client(url.scheme + "://" + url.host + ":" + std::to_string(url.port));
    client.set_follow_location(false);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    std::string body;
    bool tooLarge = false;
    httplib::Result res = client.Get(url.path, [&body, &tooLarge](const char* data, size_t length) {
      if (body.size() + length > kMaxLogoBytes) return !(tooLarge = true);
      body.append(data, length);
      return true;
    });
    if (tooLarge) {
      logo.problem = "the logo is larger than 1 MiB";
      return logo;
    }
    if (!res) {
      logo.problem = "the logo could not be fetched: " + httplib::to_string(res.error());
      return logo;
    }
    if (res->status >= 300 && res->status < 400 && res->has_header("Location")) {
      const std::string location = res->get_header_value("Location");
      WebUrl next;
      if (location.size() > 1 && location[0] == '/' && location[1] != '/') {
        next = url;
        next.path = location;
      } else if (!ParseWebUrl(location, &next) || next.scheme != url.scheme || next.host != url.host ||
                 next.port != url.port) {
        logo.problem = "the logo's server sends it elsewhere (" + location + "), which is not followed";
        return logo;
      }
      url = next;
      continue;
    }
    if (res->status != 200) {
      logo.problem = "the logo's server answered HTTP " + std::to_string(res->status);
      return logo;
    }
    const std::string type = res->get_header_value("Content-Type");
    if (!IsShownImage(type)) {
      logo.problem = "the logo is not a picture that is shown (" + (type.empty() ? "no type" : type) + ")";
      return logo;
    }
    logo.contentType = type;
    logo.bytes = std::move(body);
    return logo;
  }
  logo.problem = "the logo's server redirects more than " + std::to_string(kMaxRedirects) + " times";
  return logo;
}

}  // namespace web
