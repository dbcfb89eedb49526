#include "tools/velctl_media.h"

#include <cstdlib>
#include <iterator>

namespace velctl {

namespace {

using nlohmann::json;

long Number(const json& value) {
  if (value.is_number_integer()) return value.get<long>();
  if (value.is_string()) return std::atol(value.get<std::string>().c_str());
  return 0;
}

bool IsChannelType(const std::string& mediaType) {
  return mediaType.rfind("tv.", 0) == 0 || mediaType.rfind("audio.web", 0) == 0;
}

// A SearchMedia request of the media library: the records of `filter` with
// the fields id, title, mimeType, mediaType.
Answer SearchChannels(Bus& bus, const std::string& filter, std::vector<Channel>* channels) {
  Answer answer = bus.Call("Any", "SearchMedia",
                           json::array({"velctl", filter, "title, mimeType, mediaType", "", "", 0, 1000}));
  if (answer.exit != kOk || !answer.out.is_array() || answer.out.empty()) return answer;
  const json& found = answer.out[0];
  if (!found.is_array() || found.size() < 5 || !found[4].is_array()) return answer;
  for (const json& record : found[4]) {
    if (!record.is_array() || record.size() < 4 || !IsChannelType(TextOf(record[3]))) continue;
    channels->push_back(Channel{TextOf(record[0]), TextOf(record[1]), TextOf(record[2])});
  }
  return answer;
}

}  // namespace

std::string TextOf(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return std::to_string(value.get<long long>());
  return std::string();
}

std::string Medium::Name() const {
  const std::string suffix = " " + start.substr(0, 16);
  if (start.size() >= 16 && title.size() > suffix.size() &&
      title.compare(title.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return title.substr(0, title.size() - suffix.size());
  }
  return title;
}

Answer ListPvrMedia(Bus& bus, std::vector<Medium>* media, bool withDeleted) {
  static const char* const kFields[] = {"pvrState", "mediaType", "title", "channel",
                                        "startTime", "duration", "scheduleMode",
                                        "failureReason", "conflictReason"};
  json names = json::array();
  for (const char* name : kFields) names.push_back(name);
  Answer answer = bus.Call("TevMediaV2", "GetMediaFromSource",
                           json::array({"PVR", {{"vt", "EMPTY"}}, {{"vt", "EMPTY"}}, names}));
  if (answer.exit != kOk || !answer.out.is_array() || answer.out.empty() || !answer.out[0].is_array()) {
    return answer;
  }
  // Every field but the last ("conflictReason", read when answered) is needed.
  const size_t needed = 3 + std::size(kFields) - 1;
  for (const json& slots : answer.out[0]) {
    if (!slots.is_array() || slots.size() < needed) continue;
    Medium medium;
    medium.path = TextOf(slots[1]);
    medium.id = TextOf(slots[2]);
    medium.state = TextOf(slots[3]);
    medium.mediaType = TextOf(slots[4]);
    medium.title = TextOf(slots[5]);
    medium.channel = TextOf(slots[6]);
    medium.start = TextOf(slots[7]);
    medium.durationMs = Number(slots[8]);
    medium.scheduleMode = TextOf(slots[9]);
    medium.failure = TextOf(slots[10]);
    if (slots.size() > needed && IsNotRecordedState(medium.state)) {
      medium.conflictReason = TextOf(slots[needed]);
    }
    if (!withDeleted && medium.mediaType.find("deleted") != std::string::npos) continue;
    media->push_back(medium);
  }
  return answer;
}

Answer ListChannels(Bus& bus, std::vector<Channel>* channels) {
  return SearchChannels(bus, "", channels);
}

Answer FindChannel(Bus& bus, const std::string& nameOrId, Channel* channel) {
  if (bus.DryRun()) {
    *channel = Channel{nameOrId, nameOrId, "video/x-tv"};
    return Answer();
  }
  std::vector<Channel> channels;
  Answer answer = SearchChannels(bus, "", &channels);
  if (answer.exit != kOk) return answer;
  for (const Channel& candidate : channels) {
    if (candidate.name == nameOrId || candidate.id == nameOrId) {
      *channel = candidate;
      return answer;
    }
  }
  answer.exit = kUsage;
  answer.error = "no channel \"" + nameOrId + "\" in the media library (velctl channels lists them)";
  return answer;
}

std::string DescribeState(const std::string& state) {
  static const std::pair<const char*, const char*> kStates[] = {
      {"schedule", "waiting for its start"},
      {"recording", "being recorded"},
      {"complete", "recorded in full"},
      {"partial", "recorded in part"},
      {"conflict", "another schedule holds the tuner"},
      {"skip", "not to be recorded"},
      {"error", "the recording failed"},
      {"invalid", "the source was not reachable"},
      {"busy", "no tuner was free"},
      {"mce", "another recorder held the tuner"},
      {"missed", "its time passed without a recording"},
      {"diskfull", "not enough disk space"},
      {"retry", "to be tried again"},
      {"deleted", "removed"},
  };
  for (const auto& entry : kStates) {
    if (state == entry.first) return entry.second;
  }
  return state.empty() ? std::string("no state") : state;
}

bool IsFailedState(const std::string& state) {
  return state == "error" || state == "invalid" || state == "busy" || state == "mce" ||
         state == "missed" || state == "diskfull" || state == "retry";
}

bool IsNotRecordedState(const std::string& state) { return state == "conflict" || state == "skip"; }

}  // namespace velctl
