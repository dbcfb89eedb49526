// Passes without a guide (web streams, capture devices): one schedule per
// qualifying day of the coming week at the pass's local time of day.
//
// Days are counted on the local calendar and each candidate is made from
// its own date and the pass's hour and minute, so 07:00 stays 07:00 local
// across a daylight-saving change.
#include <ctime>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "passes/EpisodeRow.h"
#include "passes/SeasonPassChecker.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

const int64_t kLateStartSeconds = 300;  // a candidate begun this recently still counts

bool DayQualifies(int32_t mode, int weekday, int passWeekday) {
  switch (mode) {
    case 1:
    case 2:
    case 3:
      return true;
    case 4:
      return weekday == passWeekday;
    case 5:
      return weekday >= 1 && weekday <= 5;
    case 6:
      return weekday == 0 || weekday == 6;
    default:
      LogError(L"CheckNonGuidePass: unsupported schedule mode %d", mode);
      return false;
  }
}

}  // namespace

int32_t SeasonPassChecker::CheckNonGuidePass(const PassRow& pass, int64_t now,
                                             const AdmissionFlags& flags) {
  const time_t passStart = static_cast<time_t>(pass.startDate);
  struct tm p {};
  if (localtime_r(&passStart, &p) == nullptr) {
    throw VelException(L"CheckNonGuidePass: error in localtime_s");
  }
  const time_t first = static_cast<time_t>(now < pass.startDate ? pass.startDate : now);
  struct tm base {};
  if (localtime_r(&first, &base) == nullptr) {
    LogError(L"Error in CheckNonGuidePass - localtime_s");
    return 0;
  }
  BumpedSet added;
  // Tuner counts are read before the transaction, not inside it.
  engine_.StartStop().GetTunerCount(L"video/x-tv");
  Transaction transaction(engine_.EngineLock(), L"CheckNonGuidePass");
  for (int day = 0; day < 7; ++day) {
    struct tm candidate = base;
    candidate.tm_mday += day;
    candidate.tm_hour = p.tm_hour;
    candidate.tm_min = p.tm_min;
    candidate.tm_sec = 0;
    candidate.tm_isdst = -1;
    const int64_t start = static_cast<int64_t>(mktime(&candidate));  // normalises the date
    if (!DayQualifies(pass.scheduleMode, candidate.tm_wday, p.tm_wday)) continue;
    if (start <= now - kLateStartSeconds) continue;
    if (flags.matched != nullptr) {
      if (pass.duration > 0) {
        AiringExists(L"Channel", pass.channelMedium, start, L"SeasonPassChecker::CheckNonGuidePass",
                     flags.matched);
      }
      continue;
    }
    const int32_t id = AddNonGuideProgram(pass, start);
    if (id != 0) added[id] = kBumpedNewEpisode;
  }
  CommitAndPublish(pass, added, transaction, flags, true);
  return 0;
}

int32_t SeasonPassChecker::AddNonGuideProgram(const PassRow& pass, int64_t start) {
  if (pass.duration <= 0) return 0;  // nothing to record until the pass has a length
  try {
    const std::wstring startText = FormatTime3(start);
    // One airing, one row, whichever pass made it and whatever it is called
    // now; any state counts, so an episode the user deleted or skipped
    // stays so.
    if (AiringExists(L"Channel", pass.channelMedium, start,
                     L"SeasonPassChecker::AddNonGuideProgram")) {
      LogDebug(L"AddNonGuideProgram exists: %ls, %ls", pass.programName.c_str(), startText.c_str());
      return 0;
    }
    EpisodeRow row;
    row.user = pass.user;
    row.channelName = pass.channelName;
    row.channelMimetype = pass.channelMimetype;
    row.channel = pass.channelMedium;
    row.start = start;
    row.duration = pass.duration;
    row.name = pass.programName;
    row.category = pass.category;
    row.quality = pass.quality;
    row.status = DVRSTATE_SCHEDULED;
    row.owner = std::to_wstring(pass.id);
    row.keepUntil = pass.keepUntil;
    row.filePath = engine_.Recorder().ConstructUniqueFileName(pass.channelMimetype, pass.channelName,
                                                             pass.programName, start, 0);
    if (row.filePath.empty()) return 0;
    const int32_t id = row.Insert(L"SeasonPassChecker::AddNonGuideProgram");
    if (id != 0) LogDebug(L"AddNonGuideProgram added %ls", row.filePath.c_str());
    return id;
  } catch (const VelException& e) {
    LogError(L"CheckNonGuidePass error: %ls", e.getMessage().c_str());
    return 0;
  }
}
