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

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/FailureReasons.h"
#include "engine/RecordingCompletion.h"
#include "engine/RecordingStartStop.h"
#include "engine/Schedules.h"
#include "engine/StartStatus.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

const wchar_t kCaller[] = L"StartRecordingIfAppropriate";
// How far past the padding ahead a start still counts as due, so that a
// wake-up a little early does not miss it.
constexpr int64_t kDueAheadSeconds = 120;

// Publishes the row as the table now holds it.
void Republish(LibrarySync& library, int32_t id) {
  Schedule loaded(id);
  if (loaded.m_id != 0) library.AddMedium(loaded, true);
}

// What a failed start code means, for the user.
std::wstring StartFailureText(int code) {
  switch (code) {
    case DVR::kCouldNotConnect:
      return L"the streamer could not connect to the channel";
    case 104:
      return L"no tuner was free";
    case 117:
      return L"Windows Media Center held the tuner";
    default:
      return tev::WFormat(L"the streamer did not start the recording (code %d)", code);
  }
}

// The file to record `row` into: its own, unless a file is there already
// (an earlier recording of the row). That one is kept, in a row of its own
// as a partial recording, and the row records into the counter form of
// its name.
std::wstring FreshFilePath(LibrarySync& library, const Schedule& row) {
  if (!tev::Env::Current().FileExists(row.m_filePath)) return row.m_filePath;
  const std::wstring fresh = DVR::NextPieceFileName(row.m_filePath);
  if (fresh.empty()) return row.m_filePath;  // the streamer's -y is the lesser loss than none
  Schedule earlier = row;
  earlier.m_status = DVRSTATE_COMPLETE_PARTIAL;
  earlier.m_duration = -1;  // unknown, as for an orphan
  earlier.m_endTime = earlier.m_startTime;
  if (!earlier.Insert()) return row.m_filePath;
  LogWarn(L"StartRecordingIfAppropriate: %ls is on disk already; kept as a partial recording, "
          L"%ls records into %ls",
          row.m_filePath.c_str(), row.m_name.c_str(), fresh.c_str());
  // The row itself holds the path until the start writes the new one.
  SQLite query;
  if (query.RunQuery("SELECT * FROM Schedules WHERE FilePath = ? AND ID != ?",
                     {row.m_filePath, row.m_id}, kCaller) &&
      query.GetRowCount() > 0) {
    earlier.FillFromRow(query);
    library.AddMedium(earlier, true);
  }
  return fresh;
}

// Makes room on the recording's kind for `row` by cancelling the first
// running recording when the limit is reached.
void CancelOneWhenFull(RecordingStartStop& self, Schedules& engine, const Schedule& row,
                       int64_t now) {
  std::string statement = "SELECT * FROM Schedules WHERE Status = ? AND ChannelMimetype = ?";
  std::vector<SqlValue> values = {DVRSTATE_RECORDING, row.m_channelMimetype};
  startstop::AddSameDeviceClause(row.m_channelMimetype, row.m_channel, &statement, &values);
  SQLite query;
  if (!query.RunQuery(statement, values, kCaller)) return;
  const int32_t limit = self.MaxSimultaneousRecordings(row.m_channelMimetype);
  const int32_t found = query.GetRowCount();
  if (found < 1 || found < limit) return;
  LogError(L"StartRecordingIfAppropriate: stopping because only %ls simultaneous recordings are "
           L"possible for mimetype %ls (%ls found)",
           std::to_wstring(limit).c_str(), row.m_channelMimetype.c_str(),
           std::to_wstring(found).c_str());
  engine.Completion().CancelScheduledRecording(query.GetInt("ID"), now);
}

// Steps for one due row. False when a failed statement ends the whole
// operation.
bool StartRow(RecordingStartStop& self, Schedules& engine, const Schedule& row, int64_t now) {
  LogInfo(L"StartRecordingIfAppropriate starting %ls", row.m_name.c_str());
  if (self.ChannelBusy(row, now)) return true;

  const int32_t duration = self.CalculateAppropriateDuration(row, now);
  // ClearDiskSpaceForSchedule has left the row DVRSTATE_DISK_FULL on false.
  if (duration != 0 && !self.ClearDiskSpaceForSchedule(row.m_channelMimetype, row.m_id, duration,
                                                       row.m_quality, now)) {
    LogError(L"Could not clear disk space for %ls, duration %d", row.m_name.c_str(), duration);
    FailureReasons::Set(row.m_id, tev::WFormat(L"not enough free space in %ls",
                                               engine.Recorder().GetRecordingDirectory(row.m_channelMimetype).c_str()));
    Republish(engine.Library(), row.m_id);
    return true;
  }

  CancelOneWhenFull(self, engine, row, now);

  Schedule marked = row;
  if (!SetScheduleStatus(engine.Library(), marked, DVRSTATE_RECORDING, now, StatusReason::kStart))
    return false;

  // A folder the streamer cannot write to fails the recording here, with
  // the reason, rather than as a stream that ends at once without a word.
  std::wstring why;
  int code = RecordingSettings::CheckDirectoryWritable(engine.Recorder().GetRecordingDirectory(row.m_channelMimetype),
                                               &why);
  // Empty start time text: URL wildcards take the current date.
  std::wstring filePath = code == 0 ? FreshFilePath(engine.Library(), row) : row.m_filePath;
  if (code == 0) {
    std::wstring said;
    code =
        engine.Recorder().StartRecording(row.m_user, row.m_episodeUrl, row.m_channelMimetype, &filePath,
                            row.m_channel, duration, row.m_quality, false, std::wstring(), &said);
    if (code != 0) why = FailureReasons::WithStreamerMessage(StartFailureText(code), said);
  }
  std::wstring status = DVRSTATE_RECORDING;
  if (code != 0) {
    LogError(L"StartRecordingIfAppropriate: could not start recording %ls (#%d): %ls",
             row.m_name.c_str(), row.m_id, why.c_str());
    status = startstop::StatusForFailedStart(code);
    FailureReasons::Set(row.m_id, why);
  } else {
    FailureReasons::Clear(row.m_id);
  }

  // The library is shown the row as the table holds it now, before the
  // outcome below is written (the next sync carries that).
  Republish(engine.Library(), row.m_id);

  if (filePath == row.m_filePath) {
    if (status != DVRSTATE_RECORDING &&
        !SetScheduleStatus(engine.Library(), marked, status, now, StatusReason::kStartOutcome)) {
      return false;
    }
  } else {
    LogDebug(L"file was changed by the request update it in DB");
    marked.m_filePath = filePath;
    if (!SetScheduleStatus(engine.Library(), marked, status, now, StatusReason::kStartNewFile))
      return false;
  }

  // A failure is shown with its reason at once, not only at the next sync.
  if (code != 0) Republish(engine.Library(), row.m_id);
  LogDebug(L"StartRecordingIfAppropriate executed for %d", row.m_id);
  if (code == 0) {
    PeerClient* vel = engine.Peers();
    if (vel != nullptr) engine.Completion().NotifyStarted(*vel, row);
    LogDebug(L"Done Notifying start recording");
  }
  return true;
}

}  // namespace

void RecordingStartStop::StartRecordingIfAppropriate(int64_t now) {
  std::lock_guard<std::mutex> one(m_starting);
  try {
    const int64_t padding = GetPaddingTime();
    SQLite query;
    if (!query.RunQuery("SELECT * FROM Schedules WHERE Status = ? AND StartTime >= ? AND "
                        "StartTime <= ? AND EndTime > ? ORDER BY StartTime",
                        {DVRSTATE_SCHEDULED, FormatTime3(now - padding),
                         FormatTime3(now + padding + kDueAheadSeconds), FormatTime3(now)},
                        kCaller)) {
      return;
    }
    LogDebug(L"StartRecordingIfAppropriate %d program(s) found", query.GetRowCount());
    for (const Schedule& row : Schedule::FromRows(query)) {
      if (!StartRow(*this, m_engine, row, now)) return;
    }
  } catch (const VelException& e) {
    LogError(L"Error in StartRecordingIfAppropriate: %ls", e.getMessage().c_str());
  }
}
