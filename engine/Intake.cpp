// Intake: the one road by which a request to record becomes a row of the
// Schedules table, and, when its time has come, a running recording.
//
// Nothing here serialises two intakes; unique file names rest on the
// database check behind ConstructUniqueFileName. The engine lock is taken
// only to re-arm the timer.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/LocalIds.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/MediaBatch.h"
#include "engine/ScheduleIntake.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace {

const wchar_t kAutomatic[] = L"Automatic";
const wchar_t kManual[] = L"Manual";

// The values of one new row, as intake has settled them, with its times
// as the database texts it is written with.
struct NewRow : Schedule {
  std::wstring startText, endText;
  bool Insert(SQLite& query) const { return RunInsert(query, startText, endText, L"Schedules::Add"); }
};

// The unique file name, or empty when none can be made (an unknown
// mimetype has no file extension).
std::wstring UniqueFileName(DVR& recorder, const std::wstring& mimetype, const std::wstring& channelName,
                            const std::wstring& name, int64_t start, int32_t scheduleId) {
  try {
    return recorder.ConstructUniqueFileName(mimetype, channelName, name, start, scheduleId);
  } catch (const VelException& e) {
    LogError(L"Schedules::Add: %ls", e.getMessage().c_str());
    return std::wstring();
  }
}

}  // namespace

PeerClient* ScheduleIntake::Peers() const { return m_engine.Peers(); }

LibrarySync& ScheduleIntake::Library() const { return m_engine.Library(); }

bool ScheduleIntake::IsPendingFile(const std::wstring& filePath) {
  PMutexLock lock(m_startingSetMutex);
  return m_pendingFiles.count(filePath) != 0;
}

void ScheduleIntake::AddPendingFile(const std::wstring& filePath) {
  PMutexLock lock(m_startingSetMutex);
  m_pendingFiles.insert(filePath);
}

void ScheduleIntake::RemovePendingFile(const std::wstring& filePath) {
  PMutexLock lock(m_startingSetMutex);
  m_pendingFiles.erase(filePath);
}

bool ScheduleIntake::IsBeingRecorded(const std::wstring& filePath) {
  return IsPendingFile(filePath) || m_dvr.GetStreamId(filePath) != 0;
}

int ScheduleIntake::Add(const RecordingRequest& request, ScheduleAnswer* answer) {
  LogInfo(
      L"SCHEDULE %ls  channel name: %ls mime: %ls channel: %ls start time: %d duration: %d "
      L"category: %ls description: %ls user: %ls quality: %ls tuner: %ls subTitle %ls "
      L"keepUntil %d recordNow %d",
      request.name.c_str(), request.channelName.c_str(), request.channelMimetype.c_str(),
      request.channel.c_str(), static_cast<int32_t>(request.start), request.duration,
      request.category.c_str(), request.description.c_str(), request.user.c_str(),
      request.quality.c_str(), request.tuner.c_str(), request.subtitle.c_str(), request.keepUntil,
      request.recordNow);
  std::wstring episodeUrl = request.episodeUrl;
  int64_t start = request.start;
  const bool existingRow = request.existingId != 0;
  NewRow row;
  try {
    const int64_t now = tev::Clock::Now();
    start = request.recordNow == 0 ? start / 60 * 60 + 1 : now;
    if (start < now) start = now;
    LogDebug(L"Times Start %ls %d, Duration %d, Now %d", FormatTime(start).c_str(),
             static_cast<int32_t>(start), request.duration, static_cast<int32_t>(now));
    int64_t end = start + request.duration;
    LogDebug(L"End %ls %ud, Now %ls %ud", FormatTime(end).c_str(), static_cast<uint32_t>(end),
             FormatTime(now).c_str(), static_cast<uint32_t>(now));

    int32_t remaining = (start <= now && now < end) ? static_cast<int32_t>(end - now) : 0;
    if (request.recordNow == 1 && !DVR::IsTVMimetype(request.channelMimetype))
      remaining = request.duration;
    // An existing row due now is started by the start decision, which
    // records it under its own path and state; a stream started here would
    // have no row of its own.
    if (existingRow) remaining = 0;

    row.m_status = DVRSTATE_SCHEDULED;
    row.m_type = kAutomatic;
    row.m_filePath = UniqueFileName(m_dvr, request.channelMimetype, request.channelName, request.name,
                                    start, request.existingId);
    if (row.m_filePath.empty()) return kResultNoUniqueFileName;

    BumpedSet bumped;
    const int conflicts = m_conflicts.CheckForScheduleConflicts(
        request.name, request.channel, request.channelMimetype, start, request.duration, answer,
        request.existingId, 0, request.allow, false, std::wstring(), request.allow, false, bumped,
        now);
    Library().PublishBumped(bumped);
    if (conflicts != 0) return conflicts;

    row.startText = FormatTime3(start);
    row.endText = FormatTime3(end);
    row.m_user = request.user;
    row.m_channelName = request.channelName;
    row.m_channelMimetype = request.channelMimetype;
    row.m_channel = request.channel;
    row.m_name = request.name;
    row.m_category = request.category;
    row.m_description = request.description;
    row.m_quality = request.quality;
    row.m_tuner = request.tuner;
    row.m_subtitle = request.subtitle;
    row.m_episodeTitle = request.subtitle;
    row.m_keepUntil = request.keepUntil;
    row.m_duration = request.duration;

    // The path under which a row was written before the recorder was asked,
    // or empty when none was.
    std::wstring writtenPath;
    const bool startsNow =
        remaining > 0 || (!existingRow && request.recordNow != 0 && request.duration == 0);
    if (startsNow) {
      PeerClient* vel = Peers();
      std::wstring mimetype, url, unusedThumbnail, unusedRating, unusedTags, mediaType;
      int code = vel == nullptr
                     ? 115
                     : vel->GetMediumInfo(request.user, request.channel, &mimetype, &url,
                                          &unusedThumbnail, &unusedRating, &unusedTags, &mediaType);
      if (code != 0) return code;
      bool urlHadWildcards = false;
      if (!url.empty()) urlHadWildcards = DVR::ReplaceWildcardInUrl(url, row.startText) != url;
      if (mimetype != L"video/x-inputdevice") episodeUrl.clear();
      const std::wstring directory = m_dvr.GetRecordingDirectory(request.channelMimetype);
      std::wstring why;
      code = RecordingSettings::CheckDirectoryWritable(directory, &why);
      if (code != 0) {
        LogError(L"Schedules::Add cannot record %ls: %ls", request.name.c_str(), why.c_str());
        return code;
      }

      remaining = m_startStop.CalculateAppropriateDuration(remaining, request.channelMimetype,
                                                           request.channel, start, end, now);
      row.m_duration = remaining;
      if (remaining > 0 && !m_startStop.ClearDiskSpace(directory, request.channelMimetype,
                                                       remaining, request.quality, now)) {
        return kResultDiskFull;
      }

      start = tev::Clock::Now();
      if (!urlHadWildcards) {
        row.m_filePath = UniqueFileName(m_dvr, request.channelMimetype, request.channelName, request.name,
                                        start, request.existingId);
        if (row.m_filePath.empty()) return kResultNoUniqueFileName;
      } else {
        row.startText = FormatTime3(start);
        row.endText = FormatTime3((start + row.m_duration) / 60 * 60 + 60);
      }

      AddPendingFile(row.m_filePath);
      row.m_episodeUrl = episodeUrl;
      if (!existingRow) {
        row.m_status = DVRSTATE_RECORDING;
        SQLite insert;
        if (!row.Insert(insert)) {
          RemovePendingFile(row.m_filePath);
          return kResultStatementFailed;
        }
        writtenPath = row.m_filePath;
      }

      std::wstring recordedPath = row.m_filePath;
      code = m_dvr.StartRecording(request.user, episodeUrl, request.channelMimetype, &recordedPath,
                                 request.channel, remaining, request.quality, true, row.startText);
      if (code != 0) {
        SQLite remove;
        remove.RunQuery("DELETE FROM Schedules WHERE FilePath = ? AND Status = ?",
                        {row.m_filePath, DVRSTATE_RECORDING}, L"Schedules::Add");
        DVR::DeleteFile(row.m_filePath);
        LogDebug(L"Deleting %ls because recording couldn't start", row.m_filePath.c_str());
        RemovePendingFile(row.m_filePath);
        return code;
      }
      if (recordedPath != row.m_filePath) {
        LogInfo(L"The streamer changed the recording file name to %ls", recordedPath.c_str());
        SQLite remove;
        remove.RunQuery("DELETE FROM Schedules WHERE FilePath = ?", {row.m_filePath},
                        L"Schedules::Add");
        DVR::DeleteFile(row.m_filePath);
        RemovePendingFile(row.m_filePath);
        row.m_filePath = recordedPath;
        AddPendingFile(row.m_filePath);
      }
      row.m_status = DVRSTATE_RECORDING;
      row.m_type = kManual;
    } else if (request.recordNow != 0 && episodeUrl.empty()) {
      return kResultNothingToRecord;
    }
    row.m_episodeUrl = episodeUrl;

    if (!existingRow && writtenPath != row.m_filePath) {
      SQLite insert;
      if (!row.Insert(insert)) {
        LogError(L"Schedules::Add Failed insert %ls %ls", row.m_filePath.c_str(),
                 insert.LastError().c_str());
        RemovePendingFile(row.m_filePath);
        return kResultStatementFailed;
      }
    }
    RemovePendingFile(row.m_filePath);

    SQLite query;
    const bool read =
        existingRow ? query.RunQuery("SELECT * FROM Schedules WHERE ID = ?", {request.existingId},
                                     L"Schedules::Add")
                    : query.RunQuery("SELECT * FROM Schedules WHERE FilePath = ? AND Status=?",
                                     {row.m_filePath, row.m_status}, L"Schedules::Add");
    if (!read) return kResultStatementFailed;
    if (query.GetRowCount() != 1) {
      LogError(L"Schedules::Add could not find what I just added %d %ls", query.GetRowCount(),
               row.m_filePath.c_str());
      return kResultStatementFailed;
    }
    Schedule added;
    added.FillFromRow(query);
    if (!existingRow) {
      added.m_thumbnailId = request.thumbnailId;
      added.m_rating = request.rating;
      added.m_tags = request.tags;
      Library().AddMedium(added, true);
    }
    m_startStop.SetRecordingTimer();
    if (remaining > 0) {
      if (PeerClient* vel = Peers()) m_engine.Completion().NotifyStarted(*vel, added);
      LogDebug(L"Done Notifying start recording");
    }
    const std::wstring mediumId =
        Peers() != nullptr ? LocalIds::GetScheduleMediumId(added.m_id) : std::wstring();
    if (answer != nullptr) answer->SetMediumId(mediumId);
    return 0;
  } catch (const VelException& e) {  // a time outside the writable range
    LogError(L"Schedules::Add: %ls", e.getMessage().c_str());
    if (!row.m_filePath.empty()) RemovePendingFile(row.m_filePath);
    return -1;
  }
}

void ScheduleIntake::ChangePastScheduledToMissed(int64_t now) {
  const std::wstring cutoff = FormatTime3(now - 60);
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE (Status = ? OR Status = ? OR Status = ?) AND "
                      "EndTime < ?",
                      {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT, cutoff},
                      L"ChangePastScheduledToMissed") ||
      query.GetRowCount() == 0) {
    return;
  }
  const std::vector<Schedule> selected = Schedule::FromRows(query);
  std::vector<Schedule> retried;
  std::vector<Schedule> missed;
  for (Schedule row : selected) {
    if (row.m_episodeUrl.empty()) {
      missed.push_back(std::move(row));
    } else if (SetScheduleStatus(Library(), row, DVRSTATE_RETRY, now, StatusReason::kMissed)) {
      retried.push_back(std::move(row));
    }
  }
  // One batch shows both kinds, in the order they were selected.
  auto publish = [this, &selected, &retried](const std::vector<Schedule>& changed) {
    std::vector<Schedule> all;
    for (const Schedule& row : selected) {
      for (const Schedule& done : retried) {
        if (done.m_id == row.m_id) all.push_back(done);
      }
      for (const Schedule& done : changed) {
        if (done.m_id == row.m_id) all.push_back(done);
      }
    }
    Library().PublishSchedules(all, true);
  };
  if (missed.empty()) {
    publish(missed);
    return;
  }
  // A failed statement is logged; the rows are taken again next time.
  static_cast<void>(
      SetScheduleStatuses(Library(), missed, DVRSTATE_MISSED, now, StatusReason::kMissed, publish));
}

void ScheduleIntake::SetScheduleOwner(int32_t scheduleId, int32_t owner) {
  Schedule::Update(scheduleId, L"Owner", owner);
  Schedule row(scheduleId);
  if (row.m_id != 0) Library().AddMedium(row, true);
}

void ScheduleIntake::SetScheduleOwner(int32_t scheduleId, const std::wstring& owner) {
  Schedule::Update(scheduleId, L"Owner", owner);
  Schedule row(scheduleId);
  if (row.m_id != 0) Library().AddMedium(row, true);
}
