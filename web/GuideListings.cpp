#include "web/GuideListings.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "tools/velctl_media.h"
#include "web/LocalClock.h"

namespace web {

namespace {

using nlohmann::json;
using velctl::TextOf;

// Programmes per request: small enough for one bus message.
const int kPartMax = 2000;
const int64_t kPartSeconds = 6 * 3600;

std::string Dumped(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string ChannelKey(const std::string& id, const std::string& name) { return id + "\n" + name; }

// Channels as they arrive, found again by id and name.
struct Collector {
  GuideLines* lines;
  std::map<std::string, size_t> byKey;

  GuideChannel& Channel(const std::string& name, const std::string& id, const std::string& mimeType) {
    auto found = byKey.emplace(ChannelKey(id, name), lines->size());
    if (found.second) lines->push_back(GuideChannel{name, id, mimeType, {}});
    return (*lines)[found.first->second];
  }
};

void Merge(const json& answer, Collector* channels) {
  // [[count, [channel...]]]; a channel is [name, -, [programme...], mimetype, extra, -, -, id].
  if (!answer.is_array() || answer.empty() || !answer[0].is_array() || answer[0].size() < 2 ||
      !answer[0][1].is_array()) {
    return;
  }
  for (const json& channel : answer[0][1]) {
    if (!channel.is_array() || channel.size() < 8 || !channel[2].is_array()) continue;
    GuideChannel& line = channels->Channel(TextOf(channel[0]), TextOf(channel[7]), TextOf(channel[3]));
    for (const json& p : channel[2]) {
      GuideShow show;
      if (!p.is_array() || p.size() < 15 || !LocalDateToUtc(p[5], &show.start)) continue;
      show.duration = p[4].is_number() ? p[4].get<long long>() : 0;
      show.json = Dumped({{"title", TextOf(p[0])}, {"start", show.start}, {"duration", show.duration},
                          {"category", TextOf(p[6])}, {"description", TextOf(p[7])},
                          {"episode", TextOf(p[10])},
                          {"isNew", p[14].is_number() && (p[14].get<long long>() & 1) != 0}});
      line.shows.push_back(std::move(show));
    }
  }
}

int Count(const json& answer) {
  if (!answer.is_array() || answer.empty() || !answer[0].is_array() || answer[0].empty() ||
      !answer[0][0].is_number()) {
    return 0;
  }
  return answer[0][0].get<int>();
}

// One part; splits itself while the guide fills the answer to the brim.
velctl::Answer AskPart(BusLink& bus, const std::string& title, int64_t from, int64_t to, Collector* channels) {
  velctl::Answer answer = bus.Call(
      "any", "SearchTVListings",
      json::array({title, "", "", UtcToLocalDate(from), UtcToLocalDate(to), kPartMax}));
  if (answer.exit != velctl::kOk) return answer;
  if (Count(answer.out) >= kPartMax && to - from > 60) {
    const int64_t middle = from + (to - from) / 2;
    velctl::Answer first = AskPart(bus, title, from, middle, channels);
    if (first.exit != velctl::kOk) return first;
    return AskPart(bus, title, middle + 1, to, channels);
  }
  Merge(answer.out, channels);
  return answer;
}

}  // namespace

velctl::Answer AskGuide(BusLink& bus, const std::string& title, int64_t from, int64_t to, GuideLines* lines) {
  lines->clear();
  Collector channels{lines, {}};
  velctl::Answer answer;
  for (int64_t at = from; at <= to; at += kPartSeconds) {
    answer = AskPart(bus, title, at, std::min(to, at + kPartSeconds - 1), &channels);
    if (answer.exit != velctl::kOk) return answer;
  }
  for (GuideChannel& line : *lines) {
    std::stable_sort(line.shows.begin(), line.shows.end(),
                     [](const GuideShow& a, const GuideShow& b) { return a.start < b.start; });
  }
  return answer;
}

std::string ListingsJson(int64_t from, int64_t to, const std::vector<const GuideLines*>& parts,
                         const std::function<bool(const GuideShow&)>& keep) {
  struct Out {
    const GuideChannel* channel;
    std::vector<const std::string*> shows;
  };
  std::vector<Out> channels;
  std::map<std::string, size_t> byKey;
  for (const GuideLines* part : parts) {
    for (const GuideChannel& line : *part) {
      auto found = byKey.emplace(ChannelKey(line.id, line.name), channels.size());
      if (found.second) channels.push_back(Out{&line, {}});
      Out& out = channels[found.first->second];
      for (const GuideShow& show : line.shows) {
        if (keep(show)) out.shows.push_back(&show.json);
      }
    }
  }
  std::string text = "{\"from\":" + std::to_string(from) + ",\"to\":" + std::to_string(to) + ",\"channels\":[";
  bool firstChannel = true;
  for (const Out& out : channels) {
    if (out.shows.empty()) continue;
    text += firstChannel ? "{" : ",{";
    firstChannel = false;
    text += "\"name\":" + Dumped(out.channel->name) + ",\"id\":" + Dumped(out.channel->id) +
            ",\"mimeType\":" + Dumped(out.channel->mimeType) + ",\"programmes\":[";
    for (size_t i = 0; i < out.shows.size(); ++i) {
      if (i) text += ',';
      text += *out.shows[i];
    }
    text += "]}";
  }
  text += "]}";
  return text;
}

}  // namespace web
