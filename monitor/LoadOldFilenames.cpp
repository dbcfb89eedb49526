// Adopting recording files found in a monitored folder: the module's own
// names ("... Tev.<ext>") through the recorder's parser, others through
// the Media Center parser; each becomes a "Recovered" row unless a row
// already knows it or it is still being recorded.
#include <sys/stat.h>

#include <exception>
#include <string>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/MonitorFiles.h"
#include "monitor/ThumbnailTable.h"
#include "platform/FolderListing.h"
#include "support/Log.h"
#include "support/WideText.h"

namespace {

bool IsVideo(const std::wstring& mimetype) { return mimetype.compare(0, 5, L"video") == 0; }

// Whether a row that is neither deleted nor missed has this path. A failed
// statement counts as known: nothing is added on a guess.
bool IsKnownPath(const std::wstring& path) {
  SQLite query;
  query.LimitRows(1);
  const std::wstring statement = tev::WFormat(
      L"SELECT * FROM Schedules WHERE %ls = '%ls' AND %ls <> '%ls' AND %ls <> '%ls'", L"FilePath",
      SQLite::Escape(path).c_str(), L"Status", DVRSTATE_DELETED, L"Status", DVRSTATE_MISSED);
  if (!query.RunQuery(statement, L"FileSystemMonitor::AddOldFile")) return true;
  return query.GetRowCount() > 0;
}

// A file the engine is creating or the streamer is writing right now.
bool IsBeingRecorded(const std::wstring& path) {
  return Schedules::IsPendingFile(path) || DVR::GetStreamId(path) != 0;
}

}  // namespace

void FileSystemMonitor::LoadOldFilenames(const std::wstring& folder) {
  const std::string folderBytes = tev::ToStdUtf8(folder);
  tev::ListFolder(folderBytes, [&](const tev::FolderEntry& entry) {
    if (m_abort) return false;
    // Folders are not recordings, names beginning with '.' are hidden, and
    // a link may lead anywhere (or round in a loop): none is adopted.
    if (entry.kind != tev::FolderEntry::kFile || entry.name[0] == '.') return true;
    const std::wstring name = tev::FromStdUtf8(entry.name);
    if (tev::ToStdUtf8(name) != entry.name) {
      // No wide path would lead back to this file.
      LogError(L"LoadOldFilenames: %ls is not a UTF-8 name; skipped", name.c_str());
      return true;
    }
    AdoptEntry(folder, name);
    return true;
  });
}

void FileSystemMonitor::AdoptEntry(const std::wstring& folder, const std::wstring& name) {
  const bool own = name.find(L"Tev.") != std::wstring::npos;
  try {
    std::wstring extension, title, channel;
    int64_t start = -1;
    if (own) {
      std::wstring dateText;
      if (!DVR::ParseRecordingFileName(name, &extension, &title, &channel, &dateText)) {
        LogError(L"LoadOldFilenames: parsing failed for %ls", name.c_str());
        return;
      }
      if (!DVR::IsRecordingExtension(name)) return;
      start = GetTime(dateText);
    } else {
      LogDebug(L"LoadOldFilenames about to parse non-Tev file %ls", name.c_str());
      const bool parsed =
          ParseMediaCenterFilename(folder, name, &channel, &title, &start, &extension);
      // A file that is not a recording would be dropped again by the next
      // pass, so only recording types are adopted, whatever their name.
      if (!DVR::IsRecordingExtension(name)) return;
      if (!parsed) {
        const size_t dot = name.rfind(L'.');
        title = name.substr(0, dot);
        extension = name.substr(dot + 1);
        channel.clear();
        start = -1;
      }
    }
    if (start == -1) start = monitorfiles::ModificationTime(folder, name);
    AddOldFile(monitorfiles::JoinPath(folder, name), channel, title, start, extension);
  } catch (const std::exception&) {
    LogError(own ? L"LoadOldFilenames: problem parsing %ls"
                 : L"LoadOldFilenames: problem parsing and adding %ls",
             name.c_str());
  }
}

bool FileSystemMonitor::AddOldFile(const std::wstring& path, const std::wstring& channel,
                                   const std::wstring& title, int64_t start,
                                   const std::wstring& extension) {
  if (IsKnownPath(path)) return false;
  if (IsBeingRecorded(path)) {
    LogDebug(L"Recording pending %ls", path.c_str());
    return false;
  }

  const std::wstring mimetype = DVR::GetTevMimetype(path, !IsAudioFolder());
  Schedule schedule;
  if (!schedule.PopulateFromFile(path, channel, title, start, mimetype)) {
    LogError(L"PopulateFromFile failed on %ls", path.c_str());
    schedule.m_user.clear();
    schedule.m_channelMimetype = mimetype;
    schedule.m_startTime = start;
    schedule.m_endTime = start;
    schedule.m_duration = -1;
    schedule.m_name = title;
    schedule.m_quality = mimetype == L"video/x-tv" ? L"3" : L"high";
    schedule.m_status = DVRSTATE_COMPLETE;
    schedule.m_filePath = path;
    schedule.m_type = L"Recovered";
  }
  schedule.m_size = monitorfiles::FileSize(path);
  schedule.Insert();

  SQLite query;
  query.LimitRows(1);
  const std::wstring statement =
      tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls' AND %ls = '%ls'", L"FilePath",
                   SQLite::Escape(path).c_str(), L"Status", DVRSTATE_COMPLETE);
  if (!query.RunQuery(statement, L"VideoThumbnailCallback") || query.GetRowCount() == 0) {
    return false;
  }
  schedule.m_id = query.GetInt("ID");
  // A found video gets its thumbnail asked for once; the entry follows
  // the answer.
  if (IsVideo(schedule.m_channelMimetype)) {
    DVR::CreateThumbnail(path);
  } else {
    SetThumbnailEntry(schedule.m_id, false);
  }
  Schedule::AddMedium(schedule, true);
  return true;
}
