#include "web/GuideListings.h"

#include <algorithm>
#include <map>
#include <vector>

#include "tools/velctl_media.h"
#include "web/LocalClock.h"

namespace web {

namespace {

using nlohmann::json;
using velctl::TextOf;

// Programmes per request: small enough for one bus message.
const int kPartMax = 2000;
const int64_t kPartSeconds = 6 * 3600;

struct Channels {
  std::vector<std::string> order;  // channel keys as first seen
  std::map<std::string, json> byKey;
};

void Merge(const json& answer, Channels* channels) {
  // [[count, [channel...]]]; a channel is [name, -, [programme...], mimetype, extra, -, -, id].
  if (!answer.is_array() || answer.empty() || !answer[0].is_array() || answer[0].size() < 2 ||
      !answer[0][1].is_array()) {
    return;
  }
  for (const json& channel : answer[0][1]) {
    if (!channel.is_array() || channel.size() < 8 || !channel[2].is_array()) continue;
    const std::string key = TextOf(channel[7]) + "\n" + TextOf(channel[0]);
    auto found = channels->byKey.find(key);
    if (found == channels->byKey.end()) {
      channels->order.push_back(key);
      found = channels->byKey
                  .emplace(key, json{{"name", TextOf(channel[0])}, {"id", TextOf(channel[7])},
                                     {"mimeType", TextOf(channel[3])}, {"programmes", json::array()}})
                  .first;
    }
    for (const json& p : channel[2]) {
      int64_t start = 0;
      if (!p.is_array() || p.size() < 15 || !LocalDateToUtc(p[5], &start)) continue;
      found->second["programmes"].push_back(
          {{"title", TextOf(p[0])}, {"start", start}, {"duration", p[4].is_number() ? p[4].get<long long>() : 0},
           {"category", TextOf(p[6])}, {"description", TextOf(p[7])}, {"episode", TextOf(p[10])},
           {"isNew", p[14].is_number() && (p[14].get<long long>() & 1) != 0}});
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
velctl::Answer AskPart(BusLink& bus, const std::string& title, int64_t from, int64_t to,
                       Channels* channels) {
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

velctl::Answer SearchGuide(BusLink& bus, const std::string& title, int64_t from, int64_t to,
                           json* listings) {
  Channels channels;
  velctl::Answer answer;
  for (int64_t at = from; at <= to; at += kPartSeconds) {
    answer = AskPart(bus, title, at, std::min(to, at + kPartSeconds - 1), &channels);
    if (answer.exit != velctl::kOk) return answer;
  }
  json list = json::array();
  for (const std::string& key : channels.order) {
    json& channel = channels.byKey[key];
    json& programmes = channel["programmes"];
    std::stable_sort(programmes.begin(), programmes.end(),
                     [](const json& a, const json& b) { return a["start"] < b["start"]; });
    list.push_back(std::move(channel));
  }
  *listings = {{"from", from}, {"to", to}, {"channels", std::move(list)}};
  return answer;
}

}  // namespace web
