// The recorder's reports about a recording: started, failed, finished, and
// its request for a thumbnail. Each names the recording by its file path,
// the key the streamer knows. Reports arrive on bus threads; nothing here
// takes the engine lock.
//
//   RECORDING --finished, long enough--------------------> COMPLETE
//   RECORDING --finished short by > 1/10 and > 20 s-------> COMPLETE_PARTIAL
//   RECORDING --finished under 20 s, or failed report-----> ERROR
//   any closed row --finished-----------------------------> unchanged (the
//                     file gets its description)
#include <cwchar>
#include <string>

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FailureReasons.h"
#include "engine/RecordingCompletion.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/Log.h"

namespace {

// Time the recorder needs before a thumbnail can be cut from a new file.
constexpr unsigned int kThumbnailDelayMs = 10000;
// Recordings shorter than this failed, unless they never started for a
// reason already recorded in the row.
constexpr int32_t kShortestRecording = 20;
// A recording may fall short of its expected length by this much (and by a
// tenth) and still count as complete.
constexpr int32_t kAllowedShortfall = 20;

bool IsVideo(const std::wstring& mimetype) { return mimetype.compare(0, 5, L"video") == 0; }

// Statuses of rows that never really recorded, so a short report is no
// failure of the recording itself.
bool NeverStarted(const std::wstring& status) {
  return status == DVRSTATE_COULD_NOT_CONNECT || status == DVRSTATE_TUNER_BUSY ||
         status == DVRSTATE_MCE_RUNNING;
}

// Why a recording ended almost at once: a folder it could not write to,
// no file at all, or a stream that stopped.
std::wstring ShortRecordingText(DVR& recorder, const Schedule& schedule, int32_t seconds) {
  std::wstring why;
  if (RecordingSettings::CheckDirectoryWritable(recorder.GetRecordingDirectory(schedule.m_channelMimetype),
                                        &why) != 0) {
    return why;
  }
  if (!tev::Env::Current().FileExists(schedule.m_filePath)) {
    return L"the streamer wrote no file " + schedule.m_filePath;
  }
  return tev::WFormat(L"the stream stopped after %d s", seconds);
}

}  // namespace

RecordingCompletion::RecordingCompletion(Schedules& engine, DVR& recorder, EngineHost* host,
                                         MetadataEditor& metadata, RecordingStartStop& startStop,
                                         ScheduleConflicts& conflicts)
    : m_engine(engine),
      m_dvr(recorder),
      m_host(host),
      m_metadata(metadata),
      m_startStop(startStop),
      m_conflicts(conflicts) {}

PeerClient* RecordingCompletion::Peers() const { return m_engine.Peers(); }

LibrarySync& RecordingCompletion::Library() const { return m_engine.Library(); }

void RecordingCompletion::NotifyRecordStarted(const std::wstring& filePath) {
  Schedule schedule(filePath, DVRSTATE_RECORDING);
  if (schedule.m_id == 0) {
    LogError(L"NotifyRecordStarted; not found %ls", filePath.c_str());
    return;
  }
  Library().AddMedium(schedule, true);
  if (!IsVideo(schedule.m_channelMimetype)) return;
  // A stopping module asks for nothing more.
  if (!m_engine.IsRunning() || (m_host != nullptr && m_host->Stopping())) return;
  // Never on the bus thread: a wait here would hold every other request.
  m_thumbnails.Request(filePath, kThumbnailDelayMs);
}

void RecordingCompletion::NotifyRecordStartedAsync(const std::wstring& filePath) {
  NotifyRecordStarted(filePath);
}

void RecordingCompletion::NotifyRecordFailedAsync(const std::wstring& filePath, int64_t now,
                                                  const std::wstring& streamerMessage) {
  Schedule failed(filePath, DVRSTATE_RECORDING);
  if (failed.m_id != 0 && failed.m_status != DVRSTATE_RECORDING) {
    // Closed already (cancelled, or at a shutdown): it keeps what it says.
    LogInfo(L"NotifyRecordFailedAsync: R%d is %ls already, report ignored", failed.m_id,
            failed.m_status.c_str());
  } else if (failed.m_id != 0 && !SetScheduleStatus(Library(), failed, DVRSTATE_ERROR, now,
                                                    StatusReason::kRecorderFailed)) {
    return;
  }
  m_dvr.ForgetStream(filePath);  // the stream has ended
  if (failed.m_id == 0 || failed.m_status != DVRSTATE_ERROR) return;
  if (PeerClient* vel = Peers()) NotifyRecordingChange(*vel);
  FailureReasons::Set(failed.m_id,
                      FailureReasons::WithStreamerMessage(
                          L"the streamer reported that the recording failed", streamerMessage));
  // As stored: the write changes the row only while it is still recording.
  Schedule stored(failed.m_id);
  if (stored.m_id != 0) Library().AddMedium(stored, true);
}

void RecordingCompletion::NotifyRecordComplete(int32_t durationSeconds,
                                               const std::wstring& filePath, int64_t now,
                                               const std::wstring& streamerMessage) {
  Schedule schedule(filePath, DVRSTATE_RECORDING);
  if (schedule.m_id == 0) return;
  // A row already closed (cancelled, closed at shutdown or by a restart,
  // or finished) keeps what it says: the report of a stream that ran on
  // past it changes nothing.
  if (schedule.m_status != DVRSTATE_RECORDING && !NeverStarted(schedule.m_status)) {
    LogInfo(L"NotifyRecordComplete: R%d is %ls already, report ignored", schedule.m_id,
            schedule.m_status.c_str());
    // The stream has ended all the same: the piece it wrote is final now
    // and gets its description like any recording.
    m_dvr.ForgetStream(filePath);
    schedule.SetFileMetadata(&m_metadata);
    return;
  }
  m_dvr.ForgetStream(filePath);

  LogDebug(L"Recording %d complete duration: %d s)", schedule.m_id, durationSeconds);
  const int32_t expected = schedule.m_duration;
  const wchar_t* status = DVRSTATE_COMPLETE;
  if (durationSeconds < kShortestRecording && !NeverStarted(schedule.m_status)) {
    status = DVRSTATE_ERROR;
    FailureReasons::Set(schedule.m_id,
                        FailureReasons::WithStreamerMessage(
                            ShortRecordingText(m_dvr, schedule, durationSeconds), streamerMessage));
    LogDebug(L"NotifyRecordComplete duration < 20s (%d) episode url: %ls", durationSeconds,
             schedule.m_episodeUrl.c_str());
  } else if (durationSeconds < expected - expected / 10 &&
             expected - durationSeconds > kAllowedShortfall) {
    status = DVRSTATE_COMPLETE_PARTIAL;
    LogDebug(L"Recording Incomplete %d (%d)", durationSeconds, expected);
  }

  schedule.m_duration = durationSeconds;
  if (!SetScheduleStatus(Library(), schedule, status, now, StatusReason::kRecorderFinished)) {
    LogError(L"Schedules::NotifyRecordComplete could not write %d %ls", schedule.m_id,
             filePath.c_str());
    return;
  }
  LogDebug(L"Recording complete %ls", filePath.c_str());
  if (status == DVRSTATE_ERROR) {
    LogError(L"Schedules::NotifyRecordComplete: recording %d (%ls) failed: %ls", schedule.m_id,
             schedule.m_name.c_str(), FailureReasons::Get(schedule.m_id).c_str());
  }

  if (PeerClient* vel = Peers()) NotifyStopped(*vel, schedule);
  schedule.SetFileMetadata(&m_metadata);
  if (IsVideo(schedule.m_channelMimetype) && !m_dvr.Thumbnails().Get(schedule.m_id)) {
    m_dvr.CreateThumbnail(filePath);
  }
  Library().AddMedium(schedule, true);
}

void RecordingCompletion::NotifyThumbnailNeeded(const std::wstring& filePath) {
  LogDebug(L"Got NotifyThumbnailNeeded for %ls", filePath.c_str());
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE FilePath = ?", {filePath},
                      L"Schedules::NotifyThumbnailNeeded")) {
    return;
  }
  if (query.GetRowCount() > 0) {
    m_dvr.CreateThumbnail(filePath);
  } else {
    LogError(L"NotifyThumbnailNeeded: Could not find database entry for %ls", filePath.c_str());
  }
}
