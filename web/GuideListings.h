// The programme guide through "SearchTVListings", in the form the page
// draws it: per channel, each programme as its JSON object
//   {"title", "start" (UTC s), "duration" (s), "category", "description",
//    "episode", "isNew"}
// made once when it arrives, so that a cached answer is only joined again.
//
// One answer of the guide must fit a bus message, so a long window is asked
// for in parts, and a part that comes back full is split again.
#ifndef TEV_WEB_GUIDELISTINGS_H_
#define TEV_WEB_GUIDELISTINGS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "web/BusLink.h"

namespace web {

struct GuideShow {
  int64_t start = 0;     // UTC s
  int64_t duration = 0;  // s
  std::string json;      // the page's object for it
};

struct GuideChannel {
  std::string name, id, mimeType;
  std::vector<GuideShow> shows;  // by start
};

// Channels in the order the guide first named them.
typedef std::vector<GuideChannel> GuideLines;

// Programmes starting within [from, to] (UTC s) whose title is `title`
// (any case; every title when empty), in place of what *lines held. On a
// failure the answer says why and *lines is incomplete.
velctl::Answer AskGuide(BusLink& bus, const std::string& title, int64_t from, int64_t to, GuideLines* lines);

// The page's listings {"from", "to", "channels": [{"name", "id", "mimeType",
// "programmes": [...]}...]} of `parts` (consecutive windows in time order,
// as AskGuide made them) with the programmes `keep` admits. Channels keep
// the guide's order; those left without a programme are left out.
std::string ListingsJson(int64_t from, int64_t to, const std::vector<const GuideLines*>& parts,
                         const std::function<bool(const GuideShow&)>& keep);

}  // namespace web

#endif  // TEV_WEB_GUIDELISTINGS_H_
