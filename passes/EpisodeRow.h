// One schedule row written by the season-pass checker, and the time
// conversions the checker shares.
#ifndef TEV_PASSES_EPISODEROW_H_
#define TEV_PASSES_EPISODEROW_H_

#include <cstdint>
#include <string>

struct EpisodeRow {
  std::wstring user, channelName, channelMimetype, channel, name, category, description,
      quality, subtitle, status, owner, filePath;
  int64_t start = 0;
  int32_t duration = 0;
  int32_t keepUntil = 0;

  // Inserts the row (Tuner "Any", Type "Automatic") and reads its ID back
  // by FilePath and Status. The ID, or 0 when a statement failed or the
  // path is not unique. Throws VelException for an unconvertible time.
  int32_t Insert(const wchar_t* caller) const;
};

// UTC seconds of a local wall-clock time given as seconds since 1970 read
// as if it were UTC (the guide's dates), under the zone rules in force at
// that date, so that a daylight-saving change inside the week is honoured.
int64_t LocalWallClockToUtc(int64_t localSeconds);

#endif  // TEV_PASSES_EPISODEROW_H_
