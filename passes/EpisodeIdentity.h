// Which episode a guide listing is, and whether it is new, from the marks
// that XMLTV grabbers write: <new/>, <premiere>, <previously-shown> and
// <episode-num> in the xmltv_ns, onscreen and dd_progid systems. Pure: the
// caller hands over the texts of one programme.
#ifndef TEV_PASSES_EPISODEIDENTITY_H_
#define TEV_PASSES_EPISODEIDENTITY_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tev {

struct ListingMarks {
  std::wstring title;
  std::wstring subTitle;
  bool isNew = false;            // <new/>
  bool premiere = false;         // <premiere>
  bool previouslyShown = false;  // <previously-shown>
  // Each <episode-num>: (system attribute, text). Systems other than
  // xmltv_ns, onscreen (or common) and dd_progid are ignored.
  std::vector<std::pair<std::wstring, std::wstring>> episodeNums;
};

enum class Showing { kUnknown, kNew, kRepeat };

struct EpisodeIdentity {
  // Equal for two airings of the same episode, whichever grabber wrote
  // them: the normalised title, "/", then "S04E03" (with "P1" for part 1 of
  // several) when season and episode are known, else the dd_progid episode
  // ("EP524061.0075"), "film" for a film, the normalised sub-title, or
  // "E3" when only the episode number is known. Empty when the listing
  // cannot tell one episode of the show from another.
  std::wstring key;
  int32_t season = 0;   // 1-based; 0 when unknown
  int32_t episode = 0;  // 1-based; 0 when unknown
  int32_t part = 0;     // 1-based; 0 when unknown or the only part
  // New for <new/> or <premiere> (a premiere here is new to the viewer even
  // when it was shown elsewhere), a repeat for <previously-shown>, else
  // unknown: many grabbers write neither.
  Showing showing = Showing::kUnknown;
};

EpisodeIdentity IdentifyEpisode(const ListingMarks& listing);

// Lower-case ASCII letters, punctuation as spaces, runs of spaces as one,
// none at either end: "CSI: Miami " and "csi miami" are the same show.
std::wstring NormaliseListingText(const std::wstring& text);

}  // namespace tev

#endif  // TEV_PASSES_EPISODEIDENTITY_H_
