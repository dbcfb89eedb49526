// The programme guide of tev-peers: listings read from an XMLTV file.
#ifndef TEV_PEERS_XMLTVGUIDE_H_
#define TEV_PEERS_XMLTVGUIDE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "peers/Peers.h"

namespace tev {
namespace peers {

// Reads <channel id=..> with its <display-name>s and <programme start stop channel>
// with <title>, <sub-title>, <desc>, <category>, <new/> (or
// <premiere/>), <previously-shown/> and every <episode-num>. A channel's
// mediumId is its XMLTV id; programmes of an undeclared channel get a
// channel named by the id. False with *error when the file cannot be read
// or is not well-formed XML.
bool LoadXmltv(const std::string& path, std::vector<GuideChannel>* channels, std::string* error);

// Several XMLTV files as one guide: a channel id that more than one file
// names is one channel with the programmes of all. False with *error at the
// first file that cannot be read; a warning may be left in *error on
// success.
bool LoadXmltvFiles(const std::vector<std::string>& paths, std::vector<GuideChannel>* channels,
                    std::string* error);

// XMLTV time "YYYYMMDDhhmmss" with an optional " +hhmm"/" -hhmm" offset as
// local seconds since 1970 (the guide's clock; without an offset the time
// is taken as local already). False for a malformed text.
bool ParseXmltvTime(const std::string& text, int64_t* localSeconds);

// Sample listings go stale: when every programme has ended before
// `nowLocal`, moves all of them by whole days so that the first one starts
// today at its own time of day. Returns the days moved (0 when none).
int64_t ShiftPastListings(std::vector<GuideChannel>* channels, int64_t nowLocal);

// Repeats the listings' whole days (the span from the first programme's day
// to the last one's) after their end until they reach seven days past the
// day of `nowLocal`, so that a short sample covers the coming week. The
// number of programmes added.
int64_t FillComingWeek(std::vector<GuideChannel>* channels, int64_t nowLocal);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_XMLTVGUIDE_H_
