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
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/StreamStore.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/WideText.h"

namespace {

// Real time within which a stream must add to its file to count as alive,
// and how often the files are looked at meanwhile.
constexpr int kWriteProbeMs = 3000;
constexpr int kWriteProbeStepMs = 100;

int64_t SizeOf(const std::wstring& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(tev::ToStdUtf8(path), ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

// The paths whose files grow within one probe (one wait for all of them,
// over as soon as every file has grown).
std::set<std::wstring> StillWriting(const std::vector<std::wstring>& paths) {
  std::set<std::wstring> writing;
  std::map<std::wstring, int64_t> before;
  // A file that appears meanwhile is being written too.
  for (const std::wstring& path : paths) before[path] = std::max<int64_t>(SizeOf(path), 0);
  for (int waited = 0; writing.size() < before.size() && waited < kWriteProbeMs;
       waited += kWriteProbeStepMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kWriteProbeStepMs));
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
  return query.RunQuery(tev::WFormat(L"SELECT ID FROM Schedules WHERE FilePath = '%ls' AND "
                                     L"Status = '%ls'",
                                     SQLite::Escape(path).c_str(), DVRSTATE_RECORDING),
                        L"Schedules::ResumeRecordings") &&
         query.GetRowCount() > 0;
}

long KeptId(const std::map<std::wstring, long>& kept, const std::wstring& path) {
  auto found = kept.find(path);
  return found == kept.end() ? 0 : found->second;
}

// Stops a stream a previous run started (the streamer refuses an id it
// does not know; that is fine).
void StopKeptStream(const std::wstring& path, long streamId) {
  if (streamId == 0) return;
  DVR::AdoptStream(path, streamId);
  DVR::StopRecording(path);
}

}  // namespace

void Schedules::ResumeRecordings() {
  const int64_t now = tev::Clock::Now();
  const std::wstring nowText = FormatTime3(now);
  const std::wstring statement =
      tev::WFormat(L"SELECT * from Schedules WHERE (%ls > %ls) AND (%ls <= %ls)", L"EndTime",
                   nowText.c_str(), L"StartTime", nowText.c_str()) +
      PreviousRunCondition();
  LogDebug(L"ResumeRecordings query: %ls", statement.c_str());
  SQLite query;
  const bool ok = query.RunQuery(statement, L"Schedules::ResumeRecordings");
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
      DVR::AdoptStream(schedule.m_filePath, streamId);
      if (schedule.m_status != DVRSTATE_RECORDING) {
        schedule.m_status = DVRSTATE_RECORDING;
        schedule.m_duration = static_cast<int32_t>(schedule.m_endTime - schedule.m_startTime);
        schedule.Update();
      }
      Schedule::AddMedium(schedule, true);
      continue;
    }
    StopKeptStream(schedule.m_filePath, streamId);
    CancelScheduledRecording(schedule.m_id);
    // The row is closed as the cancel closed it; its end becomes now so
    // that a later restart does not resume the same window again.
    schedule.m_status = DVRSTATE_COMPLETE_PARTIAL;
    const int32_t remaining = static_cast<int32_t>(schedule.m_endTime - now);
    schedule.m_endTime = now;
    LogDebug(L"[Resume recording] duration: %d", remaining);
    LogDebug(L"Resume recording %ls (R%d)", schedule.m_name.c_str(), schedule.m_id);
    if (!schedule.m_episodeUrl.empty()) {
      LogDebug(L"[Resume recording] retry possible for: %d", schedule.m_id);
      schedule.m_status = DVRSTATE_RETRY;
      Schedule::AddMedium(schedule, false);
    }
    schedule.Update();
    Add(schedule.m_user, schedule.m_channelName, schedule.m_channelMimetype, schedule.m_channel,
        std::wstring(), std::wstring(), std::wstring(), now, remaining, schedule.m_name,
        schedule.m_category, schedule.m_description, schedule.m_quality, schedule.m_tuner,
        schedule.m_subtitle, schedule.m_keepUntil, 1, std::wstring(), false, nullptr, false, 0);
  }

  // A programme whose start passed while the module was down records what
  // is left of it in its own row; the timer starts it at its next wake-up.
  for (Schedule schedule : missedStart) {
    LogInfo(L"ResumeRecordings records the rest of %ls (R%d)", schedule.m_name.c_str(),
            schedule.m_id);
    schedule.m_startTime = now;
    schedule.m_duration = static_cast<int32_t>(schedule.m_endTime - now);
    schedule.Update();
  }

  SQLite old;
  if (old.RunQuery(tev::WFormat(L"SELECT * from Schedules WHERE %ls = '%ls' AND %ls < %ls",
                                L"Status", DVRSTATE_RECORDING, L"EndTime", nowText.c_str()) +
                       PreviousRunCondition(),
                   L"Schedules::ResumeRecordings")) {
    for (int32_t i = 0; i < old.GetRowCount(); ++i, old.Next()) {
      const int32_t id = old.GetInt("ID");
      const std::wstring path = old.GetString("FilePath");
      StopKeptStream(path, KeptId(kept, path));
      LogDebug(L"Delete old recording %ls (R%d)", old.GetString("Name").c_str(), id);
      Schedule::Delete(id);
    }
  }

  // Streams kept for rows that no longer record (closed by a shutdown whose
  // window has passed since): make sure none of them runs on. Only those
  // known before this run could start any.
  for (const auto& stream : StreamStore::All()) {
    if (KeptId(kept, stream.first) != stream.second) continue;  // started by this run
    if (DVR::GetStreamId(stream.first) != 0) continue;           // adopted
    if (IsRecording(stream.first)) continue;                     // a row still records
    StopKeptStream(stream.first, stream.second);
    StreamStore::Remove(stream.first);
  }
}
