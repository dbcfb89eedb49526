// The programme guide through "SearchTVListings": every programme of a
// time window, or those of one title, as the page draws them:
//   {"from", "to", "channels": [{"name", "id", "mimeType",
//     "programmes": [{"title", "start" (UTC s), "duration" (s), "category",
//                     "description", "episode", "isNew"}...]}...]}
// Channels keep the guide's order; programmes are sorted by start.
//
// One answer of the guide must fit a bus message, so a long window is asked
// for in parts, and a part that comes back full is split again.
#ifndef TEV_WEB_GUIDELISTINGS_H_
#define TEV_WEB_GUIDELISTINGS_H_

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "web/BusLink.h"

namespace web {

// Programmes starting within [from, to] (UTC s) whose title is `title`
// (any case; every title when empty). On a failure the answer says why.
velctl::Answer SearchGuide(BusLink& bus, const std::string& title, int64_t from, int64_t to,
                           nlohmann::json* listings);

}  // namespace web

#endif  // TEV_WEB_GUIDELISTINGS_H_
