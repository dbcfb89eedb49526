// The module's media as the media library holds them (source "PVR"):
// schedules, recordings and season passes, each turned into the JSON
// object the page reads.
//
//   {"id", "kind": "schedule"|"recording"|"pass", "state", "stateText",
//    "failed", "title", "channel", "channelId", "start" (UTC s), "duration"
//    (s), "keepUntil", "episode", "category", "description", "thumbnail"
//    (bool), "size" (bytes), "passId", "failure", "conflictReason" (why a
//    conflict or skip schedule will not be recorded, else ""), and for
//    passes "scheduleMode", "restrictOneChannel", "searchGuide", "priority"}
#ifndef TEV_WEB_LIBRARYMEDIA_H_
#define TEV_WEB_LIBRARYMEDIA_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "web/BusLink.h"

namespace web {

// Lists the media; on a bus failure or refusal the answer says why and
// *media is left empty.
velctl::Answer ListLibraryMedia(BusLink& bus, std::vector<nlohmann::json>* media);

// A pvrState that the module still acts on: shown among the upcoming.
bool IsUpcomingState(const std::string& state);
// The title without the " YYYY-MM-DD hh:mm" that schedules carry.
std::string ProgrammeName(const std::string& title, const std::string& startText);

}  // namespace web

#endif  // TEV_WEB_LIBRARYMEDIA_H_
