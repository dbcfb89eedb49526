// The media library's change callback ("UpdateMedium"): what a user edits
// in the library (a schedule's times, state or keep-until, a pass's
// properties) comes back here and is applied to the engine. Owned by the
// engine.
#ifndef TEV_ENGINE_MEDIUMUPDATES_H_
#define TEV_ENGINE_MEDIUMUPDATES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Requests.h"

class Schedule;
class Schedules;

class MediumUpdates {
 public:
  // `engine` owns it.
  explicit MediumUpdates(Schedules& engine) : m_engine(engine) {}
  MediumUpdates(const MediumUpdates&) = delete;
  MediumUpdates& operator=(const MediumUpdates&) = delete;

  // The "UpdateMedium" service. Dispatches by the kind of the medium id.
  // 0 done or nothing to do (also for an unknown id), 403 a pair was
  // refused (pairs before it stay applied, the refused one and later ones
  // are not), 119 no file name for a moved schedule. The caller refuses a
  // malformed request (a pair that is not [text name, text or integer
  // value], more than kMaxUpdatePairs pairs, a non-text value for a text
  // property) before it gets here.
  // Runs on the bus thread of the call; takes no lock of its own. On 403
  // *refusal (when given) says which property was refused and why
  // ("pvrState: only a skipped or conflicting schedule can be scheduled").
  int UpdateMedium(const MediumUpdate& update, int64_t now, std::wstring* refusal = nullptr);
  static constexpr long kMaxUpdatePairs = 1000;
  // The schedule branch; `row` is loaded. `changes` is empty unless
  // action 0.
  int UpdateScheduleMedium(int32_t action, Schedule& row, const std::vector<MediumChange>& changes,
                           int64_t now, std::wstring* refusal = nullptr);
  // For a pair that every kind treats alike: 403 for a read-only property
  // ("path", "mimeType", "mediaType", "channel", "channelId"), 0 for
  // "thumbnailId" (ends the call, later pairs are not applied); -1 for any
  // other name.
  static int CommonPairResult(const std::wstring& name);
  // StartTime, EndTime, Duration and FilePath of the row.
  static bool WriteTimes(const Schedule& row);

 private:
  // The time change of UpdateMedium: writes the new start and duration
  // with a new file name and `row`'s status, republishes, and resubmits the
  // row to intake; when intake refuses, times, file and status go back to
  // what the stored row held before the move (403).
  int MoveSchedule(const Schedule& row, int64_t start, int32_t duration, int64_t now,
                   std::wstring* refusal = nullptr);
  // WriteTimes(to) and `to`'s Status (through the state setter) on the
  // stored row `from`; false when either write failed.
  bool WriteTimesAndStatus(Schedule& from, const Schedule& to, int64_t now);

  Schedules& m_engine;
};

#endif  // TEV_ENGINE_MEDIUMUPDATES_H_
