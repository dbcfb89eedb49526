// Finished recordings whose files are gone leave the table, the media
// library and the thumbnail service; but only where the files' folder is
// there to tell. A folder that is missing, is no folder, cannot be listed
// or sits on another file system than before (a disk unmounted under its
// mount point, a share that is down) says nothing about its recordings:
// their rows stay, and the next pass looks again.
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/Config.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/FolderOutages.h"
#include "monitor/SchedulePages.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/Log.h"

namespace {

// Rows read per statement.
constexpr size_t kRowsPerPage = 500;

struct GoneRow {
  int32_t id;
  std::wstring mediumId;
  std::wstring path;
  std::wstring mediaType;  // as the library files the finished recording
};

// What one pass saw of the finished recordings of one folder.
struct FolderFiles {
  int present = 0;
  int missing = 0;
};

// The folder part of a recording's path, without trailing separators.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  if (slash == std::wstring::npos) return std::wstring();
  std::wstring folder = path.substr(0, slash);
  while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
  return folder.empty() ? std::wstring(L"/") : folder;
}

std::wstring DeviceKey(const std::wstring& folder) { return L"FolderDevice:" + folder; }

// Whether a missing file of `folder` means the recording is gone. The file
// system the folder is on is remembered in Config; a different one counts
// as the same disk again only when it holds some of the folder's
// recordings (a disk restored or moved), and the first one is learnt only
// then too, so that a mount point found empty is never taken for the disk.
bool FolderSpeaksForItsFiles(const std::wstring& folder, const FolderFiles& files,
                             std::wstring* why) {
  tev::Env& env = tev::Env::Current();
  if (!env.FileExists(folder)) {
    *why = L"does not exist";
    return false;
  }
  if (!env.IsDirectory(folder)) {
    *why = L"is not a folder";
    return false;
  }
  if (!env.CanListDirectory(folder)) {
    *why = L"cannot be read";
    return false;
  }
  const int64_t device = env.DeviceId(folder);
  if (device < 0) {
    *why = L"cannot be read";
    return false;
  }
  const std::wstring known = Config::GetString(DeviceKey(folder));
  const std::wstring now = std::to_wstring(device);
  if (known == now) return true;
  if (files.present == 0) {
    *why = known.empty() ? L"holds none of its recordings and its disk is not known yet"
                         : L"is on another file system than before";
    return false;
  }
  if (!known.empty()) {
    LogInfo(L"FileSystemMonitor: %ls is on another file system now (device %ls, was %ls)",
            folder.c_str(), now.c_str(), known.c_str());
  }
  Config::SetString(DeviceKey(folder), now);
  return true;
}

}  // namespace

void FolderOutages::Warn(const std::wstring& folder, const std::wstring& why, int rows) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_warned.insert(folder).second) return;
  }
  LogWarn(L"FileSystemMonitor: %ls %ls; its %d recordings not found are kept until it is back",
          folder.c_str(), why.c_str(), rows);
}

void FolderOutages::NoteAvailable(const std::wstring& folder) {
  bool wasWarned = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    wasWarned = m_warned.erase(folder) > 0;
  }
  if (wasWarned) LogInfo(L"FileSystemMonitor: %ls is back", folder.c_str());
}

void FileSystemMonitor::RemoveOldDBEntries() {
  std::vector<GoneRow> gone;
  std::map<std::wstring, FolderFiles> folders;
  const bool read = monitorpages::ForEachRow(
      "ID, TevMediumId, FilePath, ChannelMimetype", "Status = ? OR Status = ?",
      {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_COMPLETE}, static_cast<int32_t>(kRowsPerPage),
      L"FileSystemMonitor::RemoveDBEntries", [&](SQLite& row) {
        if (m_abort) return false;
        const std::wstring path = row.GetString("FilePath");
        const bool recording = DVR::IsRecordingExtension(path);
        // A path that is no recording goes whatever its folder says.
        FolderFiles* files = recording ? &folders[FolderOf(path)] : nullptr;
        if (recording && DVR::IsRecordingOnDisk(path)) {
          ++files->present;
          return true;
        }
        if (files != nullptr) ++files->missing;
        gone.push_back(GoneRow{row.GetInt("ID"), row.GetString("TevMediumId"), path,
                               Schedule::MediaTypeForMimetype(row.GetString("ChannelMimetype"))});
        return true;
      });
  if (!read || m_abort) return;

  std::set<std::wstring> unavailable;
  for (const auto& entry : folders) {
    std::wstring why;
    if (FolderSpeaksForItsFiles(entry.first, entry.second, &why)) {
      m_outages->NoteAvailable(entry.first);
    } else if (entry.second.missing > 0) {
      m_outages->Warn(entry.first, why, entry.second.missing);
      unavailable.insert(entry.first);
    }
  }
  gone.erase(std::remove_if(gone.begin(), gone.end(),
                            [&](const GoneRow& row) {
                              return DVR::IsRecordingExtension(row.path) &&
                                     unavailable.count(FolderOf(row.path)) > 0;
                            }),
             gone.end());
  if (gone.empty()) return;
  for (const GoneRow& row : gone) {
    LogInfo(L"RemoveOldDBEntries: removing #%ls %ls", row.mediumId.c_str(), row.path.c_str());
  }

  // Rows first, then their media in one request, each medium once: a row
  // that could not be deleted keeps its medium, and the next pass does not
  // ask for a medium already deleted. A finished recording's medium stays
  // in the library under a "deleted." type, as every deleted one does.
  std::map<std::wstring, std::wstring> mediumTypes;
  for (size_t first = 0; first < gone.size() && !m_abort; first += kRowsPerPage) {
    const size_t last = std::min(gone.size(), first + kRowsPerPage);
    std::string statement = "DELETE FROM Schedules WHERE ID IN ";
    std::vector<SqlValue> items, ids;
    for (size_t i = first; i < last; ++i) items.emplace_back(gone[i].id);
    SQLite::AppendInList(&statement, &ids, std::move(items));
    SQLite remove;
    if (!remove.RunQuery(statement, ids, L"FileSystemMonitor::RemoveDBEntries")) {
      break;
    }
    for (size_t i = first; i < last; ++i) {
      if (!gone[i].mediumId.empty()) mediumTypes.emplace(gone[i].mediumId, gone[i].mediaType);
    }
    for (size_t i = first; i < last && !m_abort; ++i) {
      if (m_engine != nullptr && m_engine->Recorder().Thumbnails().Get(gone[i].id)) {
        m_engine->Recorder().DeleteThumbnail(gone[i].path);
      }
    }
  }
  if (mediumTypes.empty() || m_engine == nullptr) return;
  std::vector<std::wstring> ids, names, types;
  for (const auto& medium : mediumTypes) {
    ids.push_back(medium.first);
    names.push_back(L"mediaType");
    types.push_back(L"deleted." + medium.second);
  }
  m_engine->Recorder().Peers().SetMediaAttributes(ids, names, types);
}
