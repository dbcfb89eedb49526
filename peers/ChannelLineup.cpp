#include "peers/ChannelLineup.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <httplib.h>

namespace tev {
namespace peers {

namespace {

using nlohmann::json;

const char kBom[] = "\xEF\xBB\xBF";

std::string Trim(const std::string& text) {
  size_t from = 0, to = text.size();
  while (from < to && std::isspace(static_cast<unsigned char>(text[from]))) ++from;
  while (to > from && std::isspace(static_cast<unsigned char>(text[to - 1]))) --to;
  return text.substr(from, to - from);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The first line (1-based) holding a byte that text never has (NUL or
// another control character); 0 when there is none.
size_t FirstBinaryLine(const std::string& text) {
  size_t line = 1;
  for (unsigned char c : text) {
    if (c == '\n') {
      ++line;
    } else if (c < 0x20 && c != '\t' && c != '\r') {
      return line;
    }
  }
  return 0;
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) continue;
    size_t more = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
    } else {
      return false;
    }
    for (size_t k = 1; k <= more; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += more;
  }
  return true;
}

// Playlists named .m3u (not .m3u8) are often ISO-8859-1.
std::string Latin1ToUtf8(const std::string& text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string Where(const std::string& origin, size_t line) {
  return origin + ":" + std::to_string(line) + ": ";
}

// "ch-" and the text's letters and digits in lower case, other runs as '-'.
std::string Slug(const std::string& text) {
  std::string slug = "ch-";
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      slug += static_cast<char>(std::tolower(c));
    } else if (slug.back() != '-') {
      slug += '-';
    }
  }
  while (slug.size() > 3 && slug.back() == '-') slug.pop_back();
  return slug.size() > 3 ? slug : "ch-channel";
}

// Gives every channel without an "id" one, unique within the list.
void AssignIds(std::vector<json>* channels, size_t from) {
  std::set<std::string> taken;
  for (const json& channel : *channels) {
    if (channel.contains("id")) taken.insert(channel["id"].get<std::string>());
  }
  for (size_t i = from; i < channels->size(); ++i) {
    json& channel = (*channels)[i];
    if (channel.contains("id")) continue;
    const std::string guideId = channel.value("xmltvId", std::string());
    const std::string base = Slug(guideId.empty() ? channel["name"].get<std::string>() : guideId);
    std::string id = base;
    for (int n = 2; taken.count(id) != 0; ++n) id = base + "-" + std::to_string(n);
    taken.insert(id);
    channel["id"] = id;
  }
}

bool HasScheme(const std::string& url, std::initializer_list<const char*> schemes) {
  const std::string lower = Lower(url);
  for (const char* scheme : schemes) {
    if (StartsWith(lower, scheme)) return true;
  }
  return false;
}

// Why a stream URL cannot be recorded; empty when it can.
std::string UrlProblem(const std::string& url) {
  if (!HasScheme(url, {"http://", "https://", "udp://", "rtp://", "rtsp://"})) {
    return "not an http(s), udp, rtp or rtsp URL";
  }
  if (url.find_first_of(" \t\"'<>") != std::string::npos) return "the URL holds a space or a quote";
  return std::string();
}

// The attributes and the shown name of an "#EXTINF:" line's rest
// ("-1 tvg-id=\"x\" group-title=\"News, Sport\",Shown, Name").
void ParseExtinf(const std::string& rest, std::map<std::string, std::string>* attributes,
                 std::string* name) {
  size_t at = 0;
  while (at < rest.size() && rest[at] != ' ' && rest[at] != ',') ++at;  // duration
  for (;;) {
    while (at < rest.size() && rest[at] == ' ') ++at;
    if (at >= rest.size() || rest[at] == ',') break;
    const size_t key = at;
    while (at < rest.size() && rest[at] != '=' && rest[at] != ' ' && rest[at] != ',') ++at;
    const std::string attribute = Lower(rest.substr(key, at - key));
    if (at >= rest.size() || rest[at] != '=') continue;  // a bare word: skipped
    ++at;
    std::string value;
    if (at < rest.size() && rest[at] == '"') {
      const size_t close = rest.find('"', at + 1);
      const size_t end = close == std::string::npos ? rest.size() : close;
      value = rest.substr(at + 1, end - at - 1);
      at = close == std::string::npos ? rest.size() : close + 1;
    } else {
      const size_t from = at;
      while (at < rest.size() && rest[at] != ' ' && rest[at] != ',') ++at;
      value = rest.substr(from, at - from);
    }
    (*attributes)[attribute] = value;
  }
  *name = at < rest.size() ? Trim(rest.substr(at + 1)) : std::string();
}

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return *error = "cannot read " + path, false;
  std::stringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

bool Fetch(const std::string& url, std::string* text, std::string* error) {
  if (!IsLoopbackUrl(url) || !StartsWith(Lower(url), "http://")) {
    return *error = url + ": only http:// addresses on this machine (loopback) are read", false;
  }
  const size_t hostFrom = std::strlen("http://");
  const size_t pathFrom = url.find('/', hostFrom);
  const std::string host = url.substr(0, pathFrom);
  const std::string path = pathFrom == std::string::npos ? "/" : url.substr(pathFrom);
  httplib::Client client(host);
  client.set_connection_timeout(5);
  client.set_read_timeout(30);
  client.set_follow_location(false);
  httplib::Result reply = client.Get(path.c_str());
  if (!reply) return *error = url + ": " + httplib::to_string(reply.error()), false;
  if (reply->status != 200) {
    return *error = url + ": HTTP status " + std::to_string(reply->status), false;
  }
  *text = reply->body;
  return true;
}

}  // namespace

std::string NameKey(const std::string& name) {
  std::string key;
  for (unsigned char c : name) {
    if (c >= 0x80) {
      key += static_cast<char>(c);
    } else if (std::isalnum(c)) {
      key += static_cast<char>(std::tolower(c));
    }
  }
  return key;
}

bool IsLoopbackUrl(const std::string& url) {
  const std::string lower = Lower(url);
  const size_t scheme = lower.find("://");
  if (scheme == std::string::npos) return false;
  size_t from = scheme + 3;
  const size_t at = lower.find_first_of("@/", from);
  if (at != std::string::npos && lower[at] == '@') from = at + 1;
  std::string host;
  if (from < lower.size() && lower[from] == '[') {
    const size_t close = lower.find(']', from);
    if (close == std::string::npos) return false;
    host = lower.substr(from + 1, close - from - 1);
    return host == "::1";
  }
  const size_t end = lower.find_first_of(":/?#", from);
  host = lower.substr(from, end == std::string::npos ? std::string::npos : end - from);
  if (host == "localhost") return true;
  int a, b, c, d;
  char tail;
  return std::sscanf(host.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &tail) == 4 && a == 127 &&
         b >= 0 && b < 256 && c >= 0 && c < 256 && d >= 0 && d < 256;
}

bool ParseM3u(const std::string& textIn, const std::string& origin, Lineup* lineup,
              std::string* error) {
  std::string text = StartsWith(textIn, kBom) ? textIn.substr(3) : textIn;
  if (const size_t line = FirstBinaryLine(text)) {
    return *error = Where(origin, line) + "binary data, not a playlist", false;
  }
  if (!IsUtf8(text)) text = Latin1ToUtf8(text);
  const size_t before = lineup->channels.size();
  json pending;  // the channel of the last #EXTINF, until its URL
  size_t pendingLine = 0;
  bool skipUrl = false;  // the URL of a refused #EXTINF
  size_t number = 0;
  for (size_t from = 0; from < text.size() || number == 0;) {
    size_t to = text.find('\n', from);
    if (to == std::string::npos) to = text.size();
    ++number;
    const size_t length = to - from;
    const std::string where = Where(origin, number);
    if (length > kMaxPlaylistLine) {
      if (number == 1) return *error = where + "not an M3U playlist (no #EXTM3U)", false;
      const bool extinf = text.compare(from, 8, "#EXTINF:") == 0;
      if (extinf || text[from] != '#') {
        lineup->problems.push_back(where + "line of " + std::to_string(length) +
                                   " bytes is too long (at most " +
                                   std::to_string(kMaxPlaylistLine) + "), its channel is left out");
        pending = json();
        skipUrl = extinf;
      }
      from = to + 1;
      continue;
    }
    const std::string line = Trim(text.substr(from, length));
    from = to + 1;
    if (number == 1) {
      if (!StartsWith(line, "#EXTM3U")) {
        return *error = where + "not an M3U playlist (the first line is not #EXTM3U)", false;
      }
      continue;
    }
    if (line.empty()) continue;
    if (StartsWith(line, "#EXTINF:")) {
      if (!pending.is_null()) {
        lineup->problems.push_back(Where(origin, pendingLine) + "#EXTINF without a URL, left out");
      }
      std::map<std::string, std::string> attributes;
      std::string name;
      ParseExtinf(line.substr(8), &attributes, &name);
      if (name.empty()) name = attributes["tvg-name"];
      if (name.empty()) {
        lineup->problems.push_back(where + "channel without a name, left out");
        pending = json();
        skipUrl = true;
        continue;
      }
      pending = json{{"name", name}, {"xmltvId", attributes["tvg-id"]}};
      const std::string logo = attributes["tvg-logo"];
      if (!logo.empty()) {
        if (HasScheme(logo, {"http://", "https://"}) &&
            logo.find_first_of(" \t\"'<>") == std::string::npos) {
          pending["logo"] = logo;
        } else {
          lineup->problems.push_back(where + "logo of \"" + name +
                                     "\" is not an http(s) URL, the channel has none");
        }
      }
      if (!attributes["tvg-chno"].empty()) pending["number"] = attributes["tvg-chno"];
      if (!attributes["group-title"].empty()) pending["group"] = attributes["group-title"];
      pendingLine = number;
      skipUrl = false;
      continue;
    }
    if (line[0] == '#') {
      if (StartsWith(line, "#EXTGRP:") && !pending.is_null() && !pending.contains("group")) {
        pending["group"] = Trim(line.substr(8));
      }
      continue;  // #EXTVLCOPT and other player options
    }
    if (skipUrl) {
      skipUrl = false;
      continue;
    }
    if (pending.is_null()) {
      lineup->problems.push_back(where + "URL without #EXTINF, left out");
      continue;
    }
    const std::string problem = UrlProblem(line);
    if (!problem.empty()) {
      lineup->problems.push_back(where + problem + ", \"" + pending["name"].get<std::string>() +
                                 "\" is left out");
    } else {
      pending["path"] = line;
      lineup->channels.push_back(pending);
    }
    pending = json();
  }
  if (!pending.is_null()) {
    lineup->problems.push_back(Where(origin, pendingLine) + "#EXTINF without a URL, left out");
  }
  AssignIds(&lineup->channels, before);
  return true;
}

bool ParseTunerLineup(const std::string& text, const std::string& origin, Lineup* lineup,
                      std::string* error) {
  const json list = json::parse(StartsWith(text, kBom) ? text.substr(3) : text, nullptr, false);
  if (!list.is_array()) {
    return *error = origin + ": not a tuner line-up ([{\"GuideNumber\", \"GuideName\", \"URL\"}])",
           false;
  }
  const size_t before = lineup->channels.size();
  for (size_t i = 0; i < list.size(); ++i) {
    const json& entry = list[i];
    const std::string where = origin + ": entry " + std::to_string(i + 1) + ": ";
    auto text = [&entry](const char* key) {
      return entry.is_object() && entry.contains(key) && entry[key].is_string()
                 ? entry[key].get<std::string>()
                 : std::string();
    };
    const std::string number = text("GuideNumber"), name = text("GuideName"), url = text("URL");
    if (number.empty() && name.empty()) {
      lineup->problems.push_back(where + "no GuideNumber or GuideName, left out");
      continue;
    }
    const std::string shown = name.empty() ? number : name;
    const std::string problem = UrlProblem(url);
    if (!problem.empty()) {
      lineup->problems.push_back(where + problem + ", \"" + shown + "\" is left out");
      continue;
    }
    json channel{{"id", Slug(number.empty() ? name : number)}, {"name", shown},
                 {"path", url},  {"xmltvId", ""}};
    json guideNames = json::array();
    if (!number.empty()) {
      channel["number"] = number;
      guideNames.push_back(number);
      if (!name.empty()) guideNames.push_back(number + " " + name);
    }
    channel["guideNames"] = guideNames;
    lineup->channels.push_back(channel);
  }
  // Two entries with the same number: the second gets a suffix.
  std::set<std::string> taken;
  for (size_t i = before; i < lineup->channels.size(); ++i) {
    json& channel = lineup->channels[i];
    const std::string base = channel["id"];
    std::string id = base;
    for (int n = 2; taken.count(id) != 0; ++n) id = base + "-" + std::to_string(n);
    taken.insert(id);
    channel["id"] = id;
  }
  return true;
}

bool ParseChannelList(const std::string& text, const std::string& origin, Lineup* lineup,
                      std::string* error) {
  const json list = json::parse(StartsWith(text, kBom) ? text.substr(3) : text, nullptr, false);
  if (!list.is_array()) return *error = origin + ": not a JSON list of channels", false;
  for (size_t i = 0; i < list.size(); ++i) {
    const json& channel = list[i];
    if (!channel.is_object() || !channel.contains("id") || !channel.contains("path")) {
      lineup->problems.push_back(origin + ": entry " + std::to_string(i + 1) +
                                 ": a channel needs \"id\" and \"path\", left out");
      continue;
    }
    json copy = channel;
    if (!copy["id"].is_string()) copy["id"] = copy["id"].dump();
    if (!copy.contains("name")) copy["name"] = copy["id"];
    lineup->channels.push_back(copy);
  }
  return true;
}

bool LoadLineup(const std::string& source, Lineup* lineup, std::string* error) {
  std::string text;
  const bool remote = source.find("://") != std::string::npos;
  if (!(remote ? Fetch(source, &text, error) : ReadFile(source, &text, error))) return false;
  const std::string body = Trim(StartsWith(text, kBom) ? text.substr(3) : text);
  if (!body.empty() && (body[0] == '[' || body[0] == '{')) {
    const json list = json::parse(body, nullptr, false);
    if (list.is_discarded()) {
      if (FirstBinaryLine(body) == 0) return *error = source + ": not valid JSON", false;
    } else {
      const bool tuner = list.is_array() && !list.empty() && list[0].is_object() &&
                         (list[0].contains("GuideNumber") || list[0].contains("GuideName"));
      return tuner ? ParseTunerLineup(body, source, lineup, error)
                   : ParseChannelList(body, source, lineup, error);
    }
  }
  return ParseM3u(text, source, lineup, error);
}

}  // namespace peers
}  // namespace tev
