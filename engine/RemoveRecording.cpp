// Taking one schedule out of use, as the user asks through the media
// library (deleting its medium):
//
//   RECORDING                     --> COMPLETE_PARTIAL (stream stopped)
//   SCHEDULED/SKIP/CONFLICT, pass --> DELETED (the row stays, so the pass
//                                     does not add the episode again)
//   SCHEDULED/SKIP/CONFLICT       --> row deleted
//   any other (finished, failed)  --> file and thumbnail deleted, state
//                                     kept; the folder monitor drops the
//                                     row once its file is gone
//
// Runs on the caller's thread (a bus thread); no lock beyond the
// database's, except the engine lock the conflict update takes.
#include <string>

#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "engine/RecordingCompletion.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/Log.h"

namespace {

bool IsPending(const std::wstring& s) {
  return s == DVRSTATE_RECORDING || s == DVRSTATE_SCHEDULED || s == DVRSTATE_SKIP ||
         s == DVRSTATE_CONFLICT;
}

// States whose rows may have no file at all: failing to delete it is no
// failure of the removal.
bool MayLackFile(const std::wstring& s) {
  return s == DVRSTATE_DISK_FULL || s == DVRSTATE_ERROR || s == DVRSTATE_TUNER_BUSY ||
         s == DVRSTATE_MCE_RUNNING || s == DVRSTATE_COULD_NOT_CONNECT || s == DVRSTATE_RETRY ||
         s == DVRSTATE_MISSED;
}

bool FileExists(const std::wstring& path) {
  return !path.empty() && tev::Env::Current().FileExists(path);
}

}  // namespace

int RecordingCompletion::RemoveRecording(int32_t scheduleId, bool notify, bool stopOnly,
                                         int64_t now) {
  Schedule row(scheduleId);
  if (row.m_id == 0) return 0;  // Populate logged why
  const std::wstring state = row.m_status;
  auto notifyStop = [this](const Schedule& stopped) {
    if (PeerClient* vel = Peers()) NotifyStopped(*vel, stopped);
  };
  auto deleteInLibrary = [this](int32_t id) {
    if (PeerClient* vel = Peers()) vel->DeleteMedium(id, false, false);
  };

  if (IsPending(state)) {
    std::wstring next;
    if (state == DVRSTATE_RECORDING) {
      m_dvr.StopRecording(row.m_user, row.m_channel, row.m_channelMimetype, row.m_filePath);
      next = DVRSTATE_COMPLETE_PARTIAL;
    } else if (!row.m_owner.empty()) {
      next = DVRSTATE_DELETED;
      if (notify) deleteInLibrary(scheduleId);
    } else {
      Schedule::Delete(scheduleId);
      m_conflicts.UpdateConflicts(scheduleId, now);
      return 0;
    }
    const bool written =
        SetScheduleStatus(Library(), row, next, now, StatusReason::kLibraryRemoved).written;
    // Announced once the row holds its new state, so that the listeners'
    // list of recordings no longer has it.
    if (next == DVRSTATE_COMPLETE_PARTIAL) notifyStop(row);
    if (written) m_conflicts.UpdateConflicts(scheduleId, now);
    return 0;
  }

  if (stopOnly) {
    notifyStop(row);
    return 0;
  }
  LogDebug(L"Attempting to remove %ls, %d", row.m_name.c_str(), scheduleId);
  // A file that is already gone needs no deleting.
  const bool deleted = !FileExists(row.m_filePath) || DVR::DeleteFile(row.m_filePath);
  if (!deleted && !MayLackFile(state)) {
    LogError(L"Failed to remove %ls, %d", row.m_name.c_str(), scheduleId);
    return kResultRemoveFailed;
  }
  // The table is only filled as thumbnails are seen; a ".jpg" beside the
  // file is the recording's thumbnail as well.
  if (m_dvr.Thumbnails().Get(scheduleId) || FileExists(row.m_filePath + L".jpg")) {
    m_dvr.DeleteThumbnail(row.m_filePath);
  }
  if (notify) deleteInLibrary(scheduleId);
  // Written back unchanged: a row that cannot be written any more is
  // reported, though the file is gone.
  if (!SetScheduleStatus(Library(), row, state, now, StatusReason::kLibraryRemoved)) {
    return kResultStatementFailed;
  }
  LogDebug(L"Removed %ls, %d", row.m_name.c_str(), scheduleId);
  return 0;
}
