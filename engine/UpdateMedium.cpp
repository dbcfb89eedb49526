// The media library's change callback ("UpdateMedium"): a user renamed,
// re-timed, skipped or deleted a schedule or a pass in the library, and the
// library hands the change back. The database stays the owner of the data:
// each pair is applied to the row in order, and a pair the module cannot
// apply is refused with 403, leaving the row as it was before that pair
// (pairs applied before it stay applied).
//
// Schedule states moved here, each through the conflict code:
//   SCHEDULED/CONFLICT --pvrState "skip"-->     SKIP      (UpdateConflicts; a
//                                                          skip of the user's
//                                                          own, kept when a
//                                                          tuner comes free)
//   SKIP/CONFLICT      --pvrState "schedule"--> SCHEDULED (ForceSchedule)
//   pending            --startTime/duration-->  SCHEDULED at the new time
//   any                --action 1-->            RemoveRecording
//
// Runs on the bus thread of the call; no lock is held across a bus request.
#include <string>
#include <vector>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "db/EpisodeMarks.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

const wchar_t kCaller[] = L"UpdateMedium";

bool IsPendingState(const std::wstring& s) {
  return s == DVRSTATE_SCHEDULED || s == DVRSTATE_SKIP || s == DVRSTATE_CONFLICT;
}

// The property a refused move names: the start when it changed, else the
// duration.
std::wstring MovedProperty(const Schedule& stored, int64_t start) {
  return start != stored.m_startTime ? L"startTime" : L"duration";
}

// Logs a refused pair and says which, and why, in *refusal (when given).
int Refuse(const Schedule& row, const std::wstring& name, const std::wstring& why,
           std::wstring* refusal) {
  LogWarn(L"UpdateMedium refused \"%ls\" for schedule %d: %ls", name.c_str(), row.m_id,
          why.c_str());
  if (refusal != nullptr) *refusal = name + L": " + why;
  return kResultChangeRefused;
}

}  // namespace

int MediumUpdates::CommonPairResult(const std::wstring& name) {
  for (const wchar_t* readOnly : {L"path", L"mimeType", L"mediaType", L"channel", L"channelId"}) {
    if (name == readOnly) return kResultChangeRefused;
  }
  return name == L"thumbnailId" ? 0 : -1;
}

int MediumUpdates::UpdateMedium(const MediumUpdate& update, int64_t now, std::wstring* refusal) {
  const int32_t action = update.action;
  const std::wstring& mediumId = update.mediumId;
  const std::vector<MediumChange>& pairs = update.changes;
  const int32_t kind = LocalIds::GetType(mediumId);
  if (kind == LocalIds::kTypeSchedule) {
    Schedule row(LocalIds::GetLocalIdFromTevMediumId(mediumId));
    if (row.m_id == 0) return 0;
    return UpdateScheduleMedium(action, row, pairs, now, refusal);
  }
  if (kind == LocalIds::kTypePass) {
    PassKeeper* passes = m_engine.Passes();
    if (passes == nullptr) return 0;
    return passes->UpdatePassMedium(action, LocalIds::GetLocalIdFromTevMediumId(mediumId), pairs,
                                    refusal);
  }
  LogWarn(L"UpdateMedium: no schedule or pass has the medium id %ls", mediumId.c_str());
  return 0;
}

int MediumUpdates::UpdateScheduleMedium(int32_t action, Schedule& row,
                                        const std::vector<MediumChange>& pairs, int64_t now,
                                        std::wstring* refusal) {
  const int32_t id = row.m_id;
  if (action == 1) {
    // The library has dropped the medium already: it is not asked again.
    m_engine.Completion().RemoveRecording(id, false, false, now);
    return 0;
  }
  if (action != 0) return 0;

  const bool pending = IsPendingState(row.m_status);
  bool moved = false;
  bool rescheduled = false;  // a new start makes the row SCHEDULED
  int64_t start = row.m_startTime;
  int32_t duration = row.m_duration;

  for (const MediumChange& pair : pairs) {
    if (pair.hole) continue;
    const std::wstring& name = pair.name;
    const std::wstring& value = pair.value;
    const int common = CommonPairResult(name);
    if (common == kResultChangeRefused) return Refuse(row, name, L"read-only property", refusal);
    if (common == 0) return 0;

    const wchar_t* column = name == L"title"         ? L"Name"
                            : name == L"subTitle"    ? L"Subtitle"
                            : name == L"genre"       ? L"Category"
                            : name == L"description" ? L"Description"
                                                     : nullptr;
    if (column != nullptr) {
      if (!Schedule::Update(id, column, value)) return Refuse(row, name, L"update failed", refusal);
    } else if (name == L"startTime") {
      // A start change of a recording that has run would point the row at
      // a new file and lose the recorded one.
      if (!pending) return Refuse(row, name, L"the schedule has run", refusal);
      const int64_t parsed = GetTime2(value);
      if (parsed == -1) return Refuse(row, name, L"not a time", refusal);
      // Moved, the row still stands for the airing it was made for.
      if (!EpisodeMarks::RememberAiring(id)) return Refuse(row, name, L"update failed", refusal);
      start = parsed;
      moved = true;
      rescheduled = true;
    } else if (name == L"duration") {
      if (!pending) return Refuse(row, name, L"the schedule has run", refusal);
      const int64_t seconds = tev::Wtoi64(value) / 1000;
      if (seconds < 1 || seconds > INT32_MAX) {
        return Refuse(row, name, L"no such duration", refusal);
      }
      duration = static_cast<int32_t>(seconds);
      moved = true;
    } else if (name == L"keepUntil") {
      const int32_t code = Schedule::KeepUntilCodeFromName(value);
      // An unknown name would read as "until space needed" and put the
      // recording up for deletion.
      if (Schedule::KeepUntilName(code) != value) {
        return Refuse(row, name, L"unknown keep-until", refusal);
      }
      if (!Schedule::Update(id, L"KeepUntil", code)) {
        return Refuse(row, name, L"update failed", refusal);
      }
      // The file carries it too, for a row rebuilt from the file.
      if ((row.m_status == DVRSTATE_COMPLETE || row.m_status == DVRSTATE_COMPLETE_PARTIAL) &&
          !Schedule::SetFileKeepUntil(m_engine.Metadata(), row.m_filePath, code)) {
        LogDebug(L"UpdateMedium: could not write the keep-until into %ls", row.m_filePath.c_str());
      }
    } else if (name == L"tevPassId") {
      return 0;
    } else if (name == L"pvrState") {
      if (value == L"skip") {
        if (row.m_status != DVRSTATE_SCHEDULED && row.m_status != DVRSTATE_CONFLICT) {
          return Refuse(row, name, L"only a scheduled or conflicting schedule can be skipped",
                        refusal);
        }
        if (!SetScheduleStatus(m_engine.Library(), row, DVRSTATE_SKIP, now,
                               StatusReason::kLibraryEdit)) {
          return Refuse(row, name, L"update failed", refusal);
        }
        // The user's skip stays when a tuner comes free.
        EpisodeMarks::SetSkippedByUser(id, true);
        m_engine.Conflicts().UpdateConflicts(id, now);
      } else if (value == L"schedule") {
        if (row.m_status != DVRSTATE_SKIP && row.m_status != DVRSTATE_CONFLICT) {
          return Refuse(row, name, L"only a skipped or conflicting schedule can be scheduled",
                        refusal);
        }
        if (!SetScheduleStatus(m_engine.Library(), row, DVRSTATE_SCHEDULED, now,
                               StatusReason::kLibraryEdit)) {
          return Refuse(row, name, L"update failed", refusal);
        }
        EpisodeMarks::SetSkippedByUser(id, false);
        m_engine.Conflicts().ForceSchedule(id, now);
      } else {
        return Refuse(row, name, L"only \"skip\" and \"schedule\" are taken", refusal);
      }
    }
  }
  if (!moved) return 0;
  if (rescheduled) {
    row.m_status = DVRSTATE_SCHEDULED;
    EpisodeMarks::SetSkippedByUser(id, false);
  }
  return MoveSchedule(row, start, duration, now, refusal);
}

int MediumUpdates::MoveSchedule(const Schedule& row, int64_t start, int32_t duration, int64_t now,
                                std::wstring* refusal) {
  // The row as the earlier pairs left it (renamed, skipped, ...): the file
  // name follows it, and a refused move goes back to it.
  const Schedule stored(row.m_id);
  if (stored.m_id == 0) return 0;
  // A start moved into the past records from now, as intake would take it,
  // so that the start decision finds the row due.
  if (start < now) start = now;
  Schedule current = stored;
  Schedule moved = current;
  moved.m_status = row.m_status;
  moved.m_startTime = start;
  moved.m_duration = duration;
  moved.m_endTime = start + duration;
  try {
    moved.m_filePath = m_engine.Recorder().ConstructUniqueFileName(
        moved.m_channelMimetype, moved.m_channelName, moved.m_name, start, moved.m_id);
  } catch (const VelException& e) {
    LogError(L"UpdateMedium: %ls", e.getMessage().c_str());
    moved.m_filePath.clear();
  }
  if (moved.m_filePath.empty()) return kResultNoUniqueFileName;
  if (!WriteTimesAndStatus(current, moved, now)) {
    WriteTimesAndStatus(current, stored, now);
    return Refuse(moved, MovedProperty(stored, start), L"update failed", refusal);
  }
  m_engine.Library().AddMedium(current, true);

  ScheduleAnswer unused;
  RecordingRequest request = RecordingRequest::Of(current);
  request.start = start;
  request.duration = duration;
  request.existingId = current.m_id;
  const int added = m_engine.Intake().Add(request, &unused);
  if (added != 0) {
    // Refused (a conflict, most often): back to the time it had.
    if (WriteTimesAndStatus(current, stored, now)) m_engine.Library().AddMedium(current, true);
    return Refuse(current, MovedProperty(stored, start),
                  added == kResultConflicts
                      ? std::wstring(L"the new time clashes with other recordings")
                      : tev::WFormat(L"the new time was refused (%d)", added),
                  refusal);
  }
  if (start <= now && current.m_status == DVRSTATE_SCHEDULED) {
    // Due now: one start, of this row, as the timer would make it (outside
    // the engine lock, which no streamer request may wait under).
    m_engine.StartStop().StartRecordingIfAppropriate(now);
  }
  return 0;
}

bool MediumUpdates::WriteTimesAndStatus(Schedule& from, const Schedule& to, int64_t now) {
  if (!WriteTimes(to)) return false;
  const std::wstring status = from.m_status;
  from = to;
  from.m_status = status;
  return status == to.m_status ||
         SetScheduleStatus(m_engine.Library(), from, to.m_status, now, StatusReason::kLibraryEdit)
             .written;
}

bool MediumUpdates::WriteTimes(const Schedule& row) {
  try {
    SQLite update;
    return update.RunQuery(
        "UPDATE Schedules SET StartTime = ?, EndTime = ?, Duration = ?, FilePath = ? WHERE ID = ?",
        {FormatTime3(row.m_startTime), FormatTime3(row.m_startTime + row.m_duration),
         row.m_duration, row.m_filePath, row.m_id},
        kCaller);
  } catch (const VelException& e) {  // a time outside the writable range
    LogError(L"UpdateMedium: %ls", e.getMessage().c_str());
    return false;
  }
}
