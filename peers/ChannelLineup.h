// A person's channel line-up, from any of the three forms people have it
// in: the JSON channel list of tev-peers, an M3U/M3U8 playlist (what IPTV
// providers and tuners hand out) or a network tuner's line-up JSON
// ([{"GuideNumber", "GuideName", "URL"}], as such tuners serve at
// /lineup.json). Every form becomes the same list of channel objects, the
// media library's channel properties:
//
//   "id"        medium id (the list's own, else made from the guide id or
//               the name: "ch-" and lower-case letters, digits and '-')
//   "name"      the channel's name as the person knows it
//   "path"      what the streamer records
//   "xmltvId"   the guide's id for the channel (may be empty)
//   "guideNames" other names the guide may use for it (tuner numbers)
//   "number", "logo", "group" when the source gives them
//
// Bad input never costs the other channels: an entry that cannot be used
// is left out and named in `problems` ("FILE:LINE: what is wrong"); only a
// source that is not a line-up at all fails as a whole.
#ifndef TEV_PEERS_CHANNELLINEUP_H_
#define TEV_PEERS_CHANNELLINEUP_H_

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tev {
namespace peers {

struct Lineup {
  std::vector<nlohmann::json> channels;
  std::vector<std::string> problems;  // entries left out or trimmed, one line each
};

// Longest line a playlist may have; longer ones are refused, not read.
constexpr size_t kMaxPlaylistLine = 64 * 1024;

// Parses playlist text. `origin` names it in messages. False with *error
// ("ORIGIN:LINE: ...") when the text is not a playlist: no "#EXTM3U" first,
// or binary data.
bool ParseM3u(const std::string& text, const std::string& origin, Lineup* lineup,
              std::string* error);

// Parses a tuner's line-up JSON. False with *error when it is not JSON or
// not a list; bad entries become problems ("ORIGIN: entry N: ...").
bool ParseTunerLineup(const std::string& text, const std::string& origin, Lineup* lineup,
                      std::string* error);

// Parses the JSON channel list (objects with "id", "name", "path").
bool ParseChannelList(const std::string& text, const std::string& origin, Lineup* lineup,
                      std::string* error);

// Reads `source` (a file, or an http:// URL on a loopback address) and
// parses it in the form its content has. False with *error when it cannot
// be read or is none of the three forms.
bool LoadLineup(const std::string& source, Lineup* lineup, std::string* error);

// Whether an http(s) URL names a loopback host (127.0.0.0/8, ::1,
// "localhost").
bool IsLoopbackUrl(const std::string& url);

// The text with case, spaces and punctuation taken away, so that names
// written differently compare equal ("BBC One HD" and "bbc-one hd").
std::string NameKey(const std::string& name);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_CHANNELLINEUP_H_
