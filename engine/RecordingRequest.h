// What intake (Schedules::Add) is asked to record: one named field per
// value of the request, so that callers set only what they mean.
#ifndef TEV_ENGINE_RECORDINGREQUEST_H_
#define TEV_ENGINE_RECORDINGREQUEST_H_

#include <cstdint>
#include <string>

#include "db/Schedule.h"

struct RecordingRequest {
  std::wstring user;
  std::wstring channelName;
  std::wstring channelMimetype;
  std::wstring channel;
  // Published with the new row only (not stored).
  std::wstring thumbnailId;
  std::wstring rating;
  std::wstring tags;
  int64_t start = 0;     // seconds since 1970; ignored when recordNow != 0
  int32_t duration = 0;  // seconds
  std::wstring name;
  std::wstring category;
  std::wstring description;
  std::wstring quality;
  std::wstring tuner;
  std::wstring subtitle;
  int32_t keepUntil = 0;
  // 0 at `start`; 1 now; any other value now without the television rule.
  int32_t recordNow = 0;
  std::wstring episodeUrl;
  // Take the time even when it conflicts: what overlaps is skipped.
  bool allow = false;
  // Non-zero: the row with this ID already exists (a schedule being moved);
  // it is checked and published as that row and not inserted.
  int32_t existingId = 0;

  // A request that records `row` again: its user, channel, texts, tuner and
  // keep-until; the times, the mode and the rest are the caller's to set.
  static RecordingRequest Of(const Schedule& row) {
    RecordingRequest request;
    request.user = row.m_user;
    request.channelName = row.m_channelName;
    request.channelMimetype = row.m_channelMimetype;
    request.channel = row.m_channel;
    request.name = row.m_name;
    request.category = row.m_category;
    request.description = row.m_description;
    request.quality = row.m_quality;
    request.tuner = row.m_tuner;
    request.subtitle = row.m_subtitle;
    request.keepUntil = row.m_keepUntil;
    return request;
  }
};

#endif  // TEV_ENGINE_RECORDINGREQUEST_H_
