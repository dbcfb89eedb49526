// What a restart does to the rows the previous run left inside their time
// window. Runs once on the start-up thread, after the bus is joined.
//
//   RECORDING, stream still writing            --> RECORDING (stream adopted)
//   COMPLETE_PARTIAL/RETRY closed by shutdown
//             while its stream went on, still
//             writing                          --> RECORDING (stream adopted)
//   either, stream gone                        --> COMPLETE_PARTIAL (end now)
//             or RETRY, and a new RECORDING row for the rest of the window
//   SCHEDULED whose start was missed           --> SCHEDULED from now (the
//             timer starts it at once)
//   any other status                           --> unchanged
//   RECORDING whose end has passed             --> deleted, stream stopped
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/StreamStore.h"
#include "engine/EngineHousekeeping.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "platform/WideText.h"
#include "support/Log.h"

namespace {

// Real time within which a stream must add to its file to count as alive,
// and how often the files are looked at meanwhile.
constexpr int kWriteProbeMs = 3000;
constexpr int kWriteProbeStepMs = 100;

int64_t SizeOf(const std::wstring& path) { return tev::Env::Current().FileSize(path); }

// The paths whose files grow within one probe (one wait for all of them,
// over as soon as every file has grown). A file that does not exist was
// never written: no wait for it.
std::set<std::wstring> StillWriting(const std::vector<std::wstring>& paths) {
  std::set<std::wstring> writing;
  std::map<std::wstring, int64_t> before;
  for (const std::wstring& path : paths) {
    const int64_t size = SizeOf(path);
    if (size >= 0) before[path] = size;
  }
  for (int waited = 0; writing.size() < before.size() && waited < kWriteProbeMs;
       waited += kWriteProbeStepMs) {
    tev::Env::Current().SleepMs(kWriteProbeStepMs);
    for (const auto& entry : before) {
      if (SizeOf(entry.first) > entry.second) writing.insert(entry.first);
    }
  }
  return writing;
}

bool ClosedByShutdown(const Schedule& row, const std::map<std::wstring, long>& kept) {
  return (row.m_status == DVRSTATE_COMPLETE_PARTIAL || row.m_status == DVRSTATE_RETRY) &&
         kept.count(row.m_filePath) != 0;
}

bool IsRecording(const std::wstring& path) {
  SQLite query;
  return query.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ? AND Status = ?",
                        {path, DVRSTATE_RECORDING}, L"Schedules::ResumeRecordings") &&
         query.GetRowCount() > 0;
}

long KeptId(const std::map<std::wstring, long>& kept, const std::wstring& path) {
  auto found = kept.find(path);
  return found == kept.end() ? 0 : found->second;
}

// Stops a stream a previous run started (the streamer refuses an id it
// does not know; that is fine).
void StopKeptStream(DVR& recorder, const std::wstring& path, long streamId) {
  if (streamId == 0) return;
  recorder.AdoptStream(path, streamId);
  recorder.StopRecording(path);
}

}  // namespace

void EngineHousekeeping::ResumeRecordings() {
  const int64_t now = tev::Clock::Now();
  const std::wstring nowText = FormatTime3(now);
  const std::string statement =
      std::string("SELECT * from Schedules WHERE (EndTime > ?) AND (StartTime <= ?)") +
      PreviousRunCondition();
  LogDebug(L"ResumeRecordings query: %ls (%ls, up to R%d)", tev::Utf8ToWide(statement).c_str(),
           nowText.c_str(), PreviousRunLast());
  SQLite query;
  const bool ok = query.RunQuery(statement, {nowText, nowText, PreviousRunLast()},
                                 L"Schedules::ResumeRecordings");
  const std::vector<Schedule> rows = ok ? Schedule::FromRows(query) : std::vector<Schedule>();
  const std::map<std::wstring, long> kept = StreamStore::All();

  std::vector<Schedule> interrupted, missedStart;
  std::vector<std::wstring> probe;
  for (const Schedule& row : rows) {
    if (row.m_status == DVRSTATE_SCHEDULED) {
      missedStart.push_back(row);
    } else if (row.m_status == DVRSTATE_RECORDING || ClosedByShutdown(row, kept)) {
      interrupted.push_back(row);
      if (KeptId(kept, row.m_filePath) != 0) probe.push_back(row.m_filePath);
    }
  }
  LogDebug(L"Resume recording %d to resume",
           static_cast<int32_t>(interrupted.size() + missedStart.size()));
  const std::set<std::wstring> writing = StillWriting(probe);

  for (Schedule schedule : interrupted) {
    const long streamId = KeptId(kept, schedule.m_filePath);
    if (writing.count(schedule.m_filePath) != 0) {
      LogInfo(L"ResumeRecordings adopts the stream still recording %ls (R%d)",
              schedule.m_filePath.c_str(), schedule.m_id);
      m_dvr.AdoptStream(schedule.m_filePath, streamId);
      if (schedule.m_status == DVRSTATE_RECORDING) {
        Library().AddMedium(schedule, true);
      } else {
        // Closed by the shutdown: its expected length again, and recording.
        schedule.m_duration = static_cast<int32_t>(schedule.m_endTime - schedule.m_startTime);
        static_cast<void>(
            SetScheduleStatus(Library(), schedule, DVRSTATE_RECORDING, now, StatusReason::kAdopt));
      }
      continue;
    }
    StopKeptStream(m_dvr, schedule.m_filePath, streamId);
    m_completion.CancelScheduledRecording(schedule.m_id, now);
    // The copy is closed as the cancel closed the row; its end becomes now
    // so that a later restart does not resume the same window again.
    const wchar_t* closed = DVRSTATE_COMPLETE_PARTIAL;
    const int32_t remaining = static_cast<int32_t>(schedule.m_endTime - now);
    schedule.m_endTime = now;
    LogDebug(L"[Resume recording] duration: %d", remaining);
    LogDebug(L"Resume recording %ls (R%d)", schedule.m_name.c_str(), schedule.m_id);
    if (!schedule.m_episodeUrl.empty()) {
      LogDebug(L"[Resume recording] retry possible for: %d", schedule.m_id);
      closed = DVRSTATE_RETRY;
      PublishUnstoredStatus(Library(), schedule, closed, false);
    }
    // A failed write is logged; the rest of the window is recorded anyway.
    static_cast<void>(SetScheduleStatus(Library(), schedule, closed, now, StatusReason::kResume));
    // No stream writes the piece any more: it is described as a finished
    // recording would be.
    if (tev::Env::Current().FileExists(schedule.m_filePath)) schedule.SetFileMetadata(&m_metadata);
    RecordingRequest rest = RecordingRequest::Of(schedule);
    rest.start = now;
    rest.duration = remaining;
    rest.recordNow = 1;
    m_engine.Intake().Add(rest, nullptr);
  }

  // A programme whose start passed while the module was down records what
  // is left of it in its own row; the timer starts it at its next wake-up.
  for (Schedule schedule : missedStart) {
    LogInfo(L"ResumeRecordings records the rest of %ls (R%d)", schedule.m_name.c_str(),
            schedule.m_id);
    schedule.m_startTime = now;
    schedule.m_duration = static_cast<int32_t>(schedule.m_endTime - now);
    MediumUpdates::WriteTimes(schedule);
  }

  SQLite old;
  if (old.RunQuery(std::string("SELECT * from Schedules WHERE Status = ? AND EndTime < ?") +
                       PreviousRunCondition(),
                   {DVRSTATE_RECORDING, nowText, PreviousRunLast()},
                   L"Schedules::ResumeRecordings")) {
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < old.GetRowCount(); ++i, old.Next()) {
      const int32_t id = old.GetInt("ID");
      const std::wstring path = old.GetString("FilePath");
      // Asks the streamer: never inside the transaction below.
      StopKeptStream(m_dvr, path, KeptId(kept, path));
      LogDebug(L"Delete old recording %ls (R%d)", old.GetString("Name").c_str(), id);
      ids.push_back(id);
    }
    Transaction group(m_engineLock, L"Schedules::ResumeRecordings");
    for (int32_t id : ids) Schedule::Delete(id);
    group.Commit();
  }

  // Streams kept for rows that no longer record (closed by a shutdown whose
  // window has passed since): make sure none of them runs on. Only those
  // known before this run could start any.
  for (const auto& stream : StreamStore::All()) {
    if (KeptId(kept, stream.first) != stream.second) continue;  // started by this run
    if (m_dvr.GetStreamId(stream.first) != 0) continue;           // adopted
    if (IsRecording(stream.first)) continue;                     // a row still records
    StopKeptStream(m_dvr, stream.first, stream.second);
    StreamStore::Remove(stream.first);
  }
}
