// The programme guide's answer to a title search, read into plain values.
//
// The guide answers [count, [channel...]]; a channel is [name, -,
// [program...], mimetype, extra, -, -, medium id]; a program is [title, -,
// -, -, duration, start (local date), category, description, -, -, episode
// title, episode numbers, -, -, flags (bit 0: new, bit 1: shown before)].
// Whatever cannot be read is kept as a reason, not dropped, so that the
// pass reading the answer can report it where it meets it.
#ifndef TEV_OUTBOUND_GUIDELISTINGS_H_
#define TEV_OUTBOUND_GUIDELISTINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ListedProgram {
  std::wstring title;
  int32_t duration = 0;  // seconds
  int64_t start = 0;     // local wall clock, as the guide keeps it
  std::wstring category;
  std::wstring description;
  std::wstring episodeTitle;
  bool isNew = false;
  // (system, text) of each episode number, when the guide sends a list.
  std::optional<std::vector<std::pair<std::wstring, std::wstring>>> episodeNumbers;
  // When the flags are an integer.
  std::optional<bool> shownBefore;
  // Why the program (or its channel's mimetype or medium id) could not be
  // read; empty when it could.
  std::wstring unreadable;
};

struct ListedChannel {
  bool readable = false;  // an array of at least 8 slots
  std::wstring name;
  std::wstring mimetype;
  std::wstring mediumId;
  bool listsPrograms = false;  // its program slot is an array
  std::vector<ListedProgram> programs;
};

struct GuideListings {
  int32_t slots = 0;       // of the answer, 0 when it is no array
  bool readable = false;   // [count, [channel...]]
  int32_t channelSlots = 0;
  std::vector<ListedChannel> channels;
  // Why reading the channels stopped before the last; empty when it did not.
  std::wstring brokenOff;
};

#endif  // TEV_OUTBOUND_GUIDELISTINGS_H_
