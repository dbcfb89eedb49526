// Starting what is due: every scheduled row whose start (less the padding)
// has come is checked for a free tuner and disk space and handed to the
// streamer. Runs on the timer thread under the engine lock, or within the
// retry on a bus thread.
//
// What a row goes through here:
//   SCHEDULED --no room on disk--> DISK_FULL (never reaches RECORDING)
//   SCHEDULED --> RECORDING before the streamer is asked; then, when the
//   start fails, RECORDING --> MCE_RUNNING (117), TUNER_BUSY (104),
//   COULD_NOT_CONNECT (116) or ERROR (any other code).
//   A busy row stays SCHEDULED and is tried again at the next wake-up.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "engine/StartStatus.h"
#include "engine/StatusChange.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "vel/VelException.h"

namespace {

const wchar_t kCaller[] = L"StartRecordingIfAppropriate";
// How far past the padding ahead a start still counts as due, so that a
// wake-up a little early does not miss it.
constexpr int64_t kDueAheadSeconds = 120;

// Publishes the row as the table now holds it.
void Republish(int32_t id) {
  Schedule loaded(id);
  if (loaded.m_id != 0) Schedule::AddMedium(loaded, true);
}

// Makes room on the recording's kind for `row` by cancelling the first
// running recording when the limit is reached.
void CancelOneWhenFull(Schedules& engine, const Schedule& row, int64_t now) {
  const std::wstring statement =
      tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls' AND %ls = '%ls'", L"Status",
                   DVRSTATE_RECORDING, L"ChannelMimetype",
                   SQLite::Escape(row.m_channelMimetype).c_str()) +
      startstop::SameDeviceClause(row.m_channelMimetype, row.m_channel);
  SQLite query;
  if (!query.RunQuery(statement, kCaller)) return;
  const int32_t limit = engine.MaxSimultaneousRecordings(row.m_channelMimetype);
  const int32_t found = query.GetRowCount();
  if (found < 1 || found < limit) return;
  LogError(L"StartRecordingIfAppropriate: stopping because only %ls simultaneous recordings are "
           L"possible for mimetype %ls (%ls found)",
           std::to_wstring(limit).c_str(), row.m_channelMimetype.c_str(),
           std::to_wstring(found).c_str());
  engine.CancelScheduledRecording(query.GetInt("ID"), now);
}

// Steps for one due row. False when a failed statement ends the whole
// operation.
bool StartRow(Schedules& engine, const Schedule& row, const std::wstring& dueStatement,
              int64_t now) {
  LogInfo(L"StartRecordingIfAppropriate starting %ls", row.m_name.c_str());
  if (engine.ChannelBusy(row, now)) return true;

  const int32_t duration = engine.CalculateAppropriateDuration(row, now);
  // ClearDiskSpaceForSchedule has left the row DVRSTATE_DISK_FULL on false.
  if (duration != 0 && !engine.ClearDiskSpaceForSchedule(row.m_channelMimetype, row.m_id,
                                                         duration, row.m_quality, now)) {
    LogError(L"Could not clear disk space for %ls, duration %d", row.m_name.c_str(), duration);
    Republish(row.m_id);
    return true;
  }

  CancelOneWhenFull(engine, row, now);

  Schedule marked = row;
  if (!SetScheduleStatus(marked, DVRSTATE_RECORDING, now, StatusReason::kStart)) return false;

  // Empty start time text: URL wildcards take the current date.
  std::wstring filePath = row.m_filePath;
  const int code = DVR::StartRecording(row.m_user, row.m_episodeUrl, row.m_channelMimetype,
                                       &filePath, row.m_channel, duration, row.m_quality, false,
                                       std::wstring());
  std::wstring status = DVRSTATE_RECORDING;
  if (code != 0) {
    LogError(L"StartRecordingIfAppropriate: could not start recording %ls (#%d)",
             row.m_name.c_str(), row.m_id);
    status = startstop::StatusForFailedStart(code);
  }

  // The library is shown the row as the table holds it now, before the
  // outcome below is written (the next sync carries that).
  Republish(row.m_id);

  if (filePath == row.m_filePath) {
    if (status != DVRSTATE_RECORDING &&
        !SetScheduleStatus(marked, status, now, StatusReason::kStartOutcome)) {
      return false;
    }
  } else {
    LogDebug(L"file was changed by the request update it in DB");
    marked.m_filePath = filePath;
    if (!SetScheduleStatus(marked, status, now, StatusReason::kStartNewFile)) return false;
  }

  LogDebug(L"StartRecordingIfAppropriate executed %ls", dueStatement.c_str());
  if (code == 0) {
    CVelAtl* vel = TheVel();
    if (vel != nullptr) vel->NotifyStartRecording(row.m_id, row.m_name, row.m_channelName);
    LogDebug(L"Done Notifying start recording");
  }
  return true;
}

}  // namespace

void Schedules::StartRecordingIfAppropriate(int64_t now) {
  // The timer and a retry never start the same due row twice. A lock of
  // its own, not the engine lock: the streamer is asked while it is held.
  static std::mutex starting;
  std::lock_guard<std::mutex> one(starting);
  try {
    const int64_t padding = GetPaddingTime();
    const std::wstring statement = tev::WFormat(
        L"SELECT * FROM Schedules WHERE Status = '%ls' AND StartTime >= %ls AND StartTime <= %ls "
        L"AND EndTime > %ls ORDER BY %ls",
        DVRSTATE_SCHEDULED, FormatTime3(now - padding).c_str(),
        FormatTime3(now + padding + kDueAheadSeconds).c_str(), FormatTime3(now).c_str(),
        L"StartTime");
    SQLite query;
    if (!query.RunQuery(statement, kCaller)) return;
    LogDebug(L"StartRecordingIfAppropriate %d program(s) found %ls", query.GetRowCount(),
             statement.c_str());
    for (const Schedule& row : Schedule::FromRows(query)) {
      if (!StartRow(*this, row, statement, now)) return;
    }
  } catch (const VelException& e) {
    LogError(L"Error in StartRecordingIfAppropriate: %ls", e.getMessage().c_str());
  }
}
