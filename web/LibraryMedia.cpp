#include "web/LibraryMedia.h"

#include <cstdlib>
#include <iterator>

#include "tools/velctl_media.h"
#include "web/LocalClock.h"

namespace web {

namespace {

using nlohmann::json;
using velctl::TextOf;

const char* const kFields[] = {"pvrState",    "mediaType",  "title",       "channel",
                               "channelId",   "startTime",  "duration",    "keepUntil",
                               "subTitle",    "genre",      "description", "thumbnailId",
                               "size",        "tevPassId",  "scheduleMode", "restrictOneChannel",
                               "searchTVGuide", "priority", "failureReason", "conflictReason"};

long long Number(const json& value) {
  if (value.is_number_integer()) return value.get<long long>();
  if (value.is_string()) return std::atoll(value.get<std::string>().c_str());
  return 0;
}

json MediumObject(const json& slots) {
  // slots: source, path, id, then kFields in order.
  auto field = [&slots](size_t i) -> const json& { return slots[3 + i]; };
  const std::string state = TextOf(field(0));
  const std::string mediaType = TextOf(field(1));
  const std::string startText = TextOf(field(5));
  json medium;
  medium["id"] = TextOf(slots[2]);
  const bool pass = mediaType.rfind("schedulePass", 0) == 0;
  medium["kind"] = pass ? "pass" : IsUpcomingState(state) ? "schedule" : "recording";
  medium["state"] = state;
  medium["stateText"] = velctl::DescribeState(state);
  medium["failed"] = velctl::IsFailedState(state);
  medium["title"] = pass ? TextOf(field(2)) : ProgrammeName(TextOf(field(2)), startText);
  medium["channel"] = TextOf(field(3));
  medium["channelId"] = TextOf(field(4));
  int64_t start = 0;
  medium["start"] = LocalTextToUtc(startText, &start) ? json(start) : json();
  medium["duration"] = Number(field(6)) / 1000;
  medium["keepUntil"] = TextOf(field(7));
  medium["episode"] = TextOf(field(8));
  medium["category"] = TextOf(field(9));
  medium["description"] = TextOf(field(10));
  medium["thumbnailId"] = TextOf(field(11));
  medium["thumbnail"] = TextOf(field(11)).rfind("RT", 0) == 0;
  medium["size"] = Number(field(12));
  medium["passId"] = TextOf(field(13));
  medium["failure"] = TextOf(field(18));
  medium["conflictReason"] = !pass && velctl::IsNotRecordedState(state) ? TextOf(field(19)) : "";
  if (pass) {
    medium["scheduleMode"] = TextOf(field(14));
    medium["restrictOneChannel"] = Number(field(15)) != 0;
    medium["searchGuide"] = Number(field(16));
    medium["priority"] = Number(field(17));
  }
  return medium;
}

}  // namespace

bool IsUpcomingState(const std::string& state) {
  return state == "schedule" || state == "conflict" || state == "skip" || state == "recording" ||
         state == "retry";
}

std::string ProgrammeName(const std::string& title, const std::string& startText) {
  const std::string suffix = " " + startText.substr(0, 16);
  if (startText.size() >= 16 && title.size() > suffix.size() &&
      title.compare(title.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return title.substr(0, title.size() - suffix.size());
  }
  return title;
}

velctl::Answer ListLibraryMedia(BusLink& bus, std::vector<json>* media) {
  json names = json::array();
  for (const char* name : kFields) names.push_back(name);
  velctl::Answer answer = bus.Call("TevMediaV2", "GetMediaFromSource",
                                   json::array({"PVR", {{"vt", "EMPTY"}}, {{"vt", "EMPTY"}}, names}));
  if (answer.exit != velctl::kOk) return answer;
  if (!answer.out.is_array() || answer.out.empty() || !answer.out[0].is_array()) {
    answer.exit = velctl::kBusFailure;
    answer.error = "the media library answered no list of media";
    return answer;
  }
  for (const json& slots : answer.out[0]) {
    if (!slots.is_array() || slots.size() < 3 + std::size(kFields)) continue;
    if (TextOf(slots[4]).find("deleted") != std::string::npos) continue;
    if (TextOf(slots[3]) == "deleted") continue;
    media->push_back(MediumObject(slots));
  }
  return answer;
}

}  // namespace web
