// Disk space for recordings: before a recording starts its folder must have
// room for it plus the user's reserve (the free-space floor); when it has
// not, finished recordings that their keep-until rule lets go are deleted,
// oldest first, until it has.
//
// Sizes: the volume's free space in units of 1024 bytes, file sizes in
// units of 1000 bytes, both compared as kilobytes. Runs on its caller's
// thread; two calls may plan on the same files (a file already gone is
// simply not deleted again).
#include <cstdint>
#include <string>
#include <vector>

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/RecordingStartStop.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/FreeSpace.h"
#include "support/Log.h"
#include "support/Text.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Kilobytes one second of a recording of this kind takes.
int64_t KilobytesPerSecond(const std::wstring& channelMimetype) {
  if (tev::StartsWith(channelMimetype, L"video/x-web")) return 100;
  if (tev::StartsWith(channelMimetype, L"video")) return 1000;
  return 32;
}

// Finished recordings in `directory` that may go, oldest start first:
// keep-until 1 at any age, 1N once started more than N days ago.
bool RunCandidates(SQLite& query, const std::wstring& directory, int64_t now) {
  std::vector<SqlValue> values = {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, directory + L"%",
                                  UNTIL_SPACE_NEEDED};
  const int32_t kinds[7] = {AT_LEAST_1_DAY,  AT_LEAST_2_DAYS, AT_LEAST_3_DAYS, AT_LEAST_4_DAYS,
                            AT_LEAST_5_DAYS, AT_LEAST_6_DAYS, AT_LEAST_7_DAYS};
  for (int n = 1; n <= 7; ++n) {
    values.emplace_back(kinds[n - 1]);
    values.push_back(FormatTime3(now - n * kSecondsPerDay));
  }
  return query.RunQuery(
      "SELECT * FROM Schedules WHERE (Status = ? OR Status = ?) AND FilePath LIKE ? AND (KeepUntil = "
      "? OR (KeepUntil = ? AND StartTime < ?) OR (KeepUntil = ? AND StartTime < ?) OR (KeepUntil = ? "
      "AND StartTime < ?) OR (KeepUntil = ? AND StartTime < ?) OR (KeepUntil = ? AND StartTime < ?) "
      "OR (KeepUntil = ? AND StartTime < ?) OR (KeepUntil = ? AND StartTime < ?) ) ORDER BY "
      "StartTime",
      values, L"ClearDiskSpace");
}

// Size in kilobytes of 1000 bytes; 0 for a file that cannot be read.
int64_t FileKilobytes(const std::wstring& path) {
  const int64_t bytes = tev::Env::Current().FileSize(path);
  return bytes < 0 ? 0 : bytes / 1000;
}

}  // namespace

bool RecordingStartStop::ClearDiskSpace(const std::wstring& directory,
                                        const std::wstring& channelMimetype, int64_t duration,
                                        const std::wstring& /*quality*/, int64_t now) {
  const int64_t spaceNeeded = duration * KilobytesPerSecond(channelMimetype);
  const int64_t spaceAvail = tev::GetFreeDiskSpace(directory);
  const int64_t floor = RecordingSettings::FreeSpaceRequired();
  LogDebug(L"ClearDiskSpace: spaceNeeded %lli", static_cast<long long>(spaceNeeded));
  LogDebug(L"ClearDiskSpace: FreeSpaceRequired %lli", static_cast<long long>(floor));
  LogDebug(L"ClearDiskSpace: spaceAvail %lli", static_cast<long long>(spaceAvail));
  if (spaceAvail < 0) return true;  // unreadable counts as enough
  if (floor + spaceNeeded < spaceAvail) return true;

  LogDebug(L"ClearDiskSpace: Not enough disk space");
  SQLite candidates;
  if (!RunCandidates(candidates, directory, now)) {
    return false;
  }
  return DeleteOldRecordings(directory, candidates, spaceNeeded, spaceAvail);
}

bool RecordingStartStop::ClearDiskSpaceForSchedule(const std::wstring& channelMimetype,
                                                   int32_t scheduleId, int64_t duration,
                                                   const std::wstring& quality, int64_t now) {
  if (ClearDiskSpace(m_dvr.GetRecordingDirectory(channelMimetype), channelMimetype, duration,
                     quality, now)) {
    return true;
  }
  Schedule row(scheduleId);
  if (row.m_id != 0) {
    // A failed write is logged; the start is refused either way.
    static_cast<void>(
        SetScheduleStatus(Library(), row, DVRSTATE_DISK_FULL, now, StatusReason::kDiskFull));
  }
  return false;
}

bool RecordingStartStop::DeleteOldRecordings(const std::wstring& directory, SQLite& candidates,
                                             int64_t spaceNeeded, int64_t spaceAvailable) {
  const int64_t wanted = RecordingSettings::FreeSpaceRequired() + spaceNeeded;

  // Plan first, so that nothing is deleted when all of it would not do.
  std::vector<std::wstring> paths;
  int64_t freed = 0;
  for (int i = 0; i < candidates.GetRowCount(); ++i) {
    paths.push_back(candidates.GetString("FilePath"));
    candidates.Next();
    if (wanted > spaceAvailable + freed) freed += FileKilobytes(paths.back());
  }
  if (wanted > spaceAvailable + freed) {
    LogDebug(L"DeleteOldRecordings: Not enough old file to remove");
    return false;
  }

  // The volume's own count decides when to stop: file sizes only estimate it.
  for (const std::wstring& path : paths) {
    if (wanted <= spaceAvailable) break;
    if (DVR::DeleteFile(path)) {
      LogDebug(L"DeleteOldRecordings: Deleted %ls", path.c_str());
      const int32_t id = Schedule::GetIdFromPath(path);
      PeerClient* vel = Peers();
      if (vel != nullptr && id > 0) vel->DeleteMedium(id, false, false);
      Schedule::Delete(path);
    } else {
      LogError(L"DeleteOldRecordings: Could not delete %ls", path.c_str());
    }
    spaceAvailable = tev::GetFreeDiskSpace(directory);
    if (spaceAvailable < 0) return true;  // unreadable counts as enough
  }
  return wanted <= spaceAvailable;
}
