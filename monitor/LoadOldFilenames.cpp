// Adopting recording files found in a monitored folder: the module's own
// names ("... Tev.<ext>") through the recorder's parser, others through
// the Media Center parser; each becomes a "Recovered" row unless a row
// already knows it or it is still being recorded.
#include <algorithm>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/MonitorFiles.h"
#include "platform/Env.h"
#include "platform/FolderListing.h"
#include "platform/WideText.h"
#include "support/Log.h"

namespace {

bool IsVideo(const std::wstring& mimetype) { return mimetype.compare(0, 5, L"video") == 0; }

// Names looked up in one statement, so that a folder of thousands of known
// files costs a few statements, not one per file.
constexpr size_t kNamesPerLookup = 500;

// Which of `paths` a row that is neither deleted nor missed has. A failed
// statement gives an empty set: each file is then looked up on its own.
std::set<std::wstring> KnownPaths(const std::vector<std::wstring>& paths) {
  std::string statement =
      "SELECT FilePath FROM Schedules WHERE Status <> ? AND Status <> ? AND FilePath IN ";
  std::vector<SqlValue> values = {DVRSTATE_DELETED, DVRSTATE_MISSED};
  SQLite::AppendInList(&statement, &values, std::vector<SqlValue>(paths.begin(), paths.end()));
  SQLite query;
  std::set<std::wstring> known;
  if (!query.RunQuery(statement, values, L"FileSystemMonitor::LoadOldFilenames")) return known;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    known.insert(query.GetString("FilePath"));
  }
  return known;
}

// Whether a row that is neither deleted nor missed has this path. A failed
// statement counts as known: nothing is added on a guess.
bool IsKnownPath(const std::wstring& path) {
  SQLite query;
  query.LimitRows(1);
  if (!query.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ? AND Status <> ? AND Status <> ?",
                      {path, DVRSTATE_DELETED, DVRSTATE_MISSED}, L"FileSystemMonitor::AddOldFile")) {
    return true;
  }
  return query.GetRowCount() > 0;
}

}  // namespace

void FileSystemMonitor::LoadOldFilenames(const std::wstring& folder) {
  std::vector<std::wstring> batch;
  tev::ListFolder(tev::ToStdUtf8(folder), [&](const tev::FolderEntry& entry) {
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
    batch.push_back(name);
    if (batch.size() == kNamesPerLookup) {
      AdoptUnknown(folder, batch);
      batch.clear();
    }
    return true;
  });
  if (!m_abort) AdoptUnknown(folder, batch);
}

void FileSystemMonitor::AdoptUnknown(const std::wstring& folder,
                                     const std::vector<std::wstring>& names) {
  if (names.empty()) return;
  std::vector<std::wstring> paths;
  paths.reserve(names.size());
  for (const std::wstring& name : names) paths.push_back(monitorfiles::JoinPath(folder, name));
  const std::set<std::wstring> known = KnownPaths(paths);
  // Files are read before the rows are written: the rows of a batch make
  // one commit, and reading files inside it would hold up the engine.
  std::vector<Schedule> found;
  for (size_t i = 0; i < names.size() && !m_abort; ++i) {
    Schedule schedule;
    if (known.count(paths[i]) == 0 && ReadEntry(folder, names[i], &schedule)) {
      found.push_back(std::move(schedule));
    }
  }
  std::vector<Schedule> adopted;
  {
    Transaction group(EngineLock(), L"FileSystemMonitor::LoadOldFilenames");
    for (Schedule& schedule : found) AddOldFile(std::move(schedule), &adopted);
    group.Commit();
  }
  if (m_engine != nullptr) m_engine->PublishAdopted(adopted);
}

bool FileSystemMonitor::ReadEntry(const std::wstring& folder, const std::wstring& name,
                                  Schedule* found) {
  const bool own = name.find(L"Tev.") != std::wstring::npos;
  try {
    std::wstring extension, title, channel;
    int64_t start = -1;
    if (own) {
      std::wstring dateText;
      if (!DVR::ParseRecordingFileName(name, &extension, &title, &channel, &dateText)) {
        LogError(L"LoadOldFilenames: parsing failed for %ls", name.c_str());
        return false;
      }
      if (!DVR::IsRecordingExtension(name)) return false;
      start = GetTime(dateText);
    } else {
      LogDebug(L"LoadOldFilenames about to parse non-Tev file %ls", name.c_str());
      const bool parsed =
          ParseMediaCenterFilename(folder, name, &channel, &title, &start, &extension);
      // A file that is not a recording would be dropped again by the next
      // pass, so only recording types are adopted, whatever their name.
      if (!DVR::IsRecordingExtension(name)) return false;
      if (!parsed) {
        const size_t dot = name.rfind(L'.');
        title = name.substr(0, dot);
        extension = name.substr(dot + 1);
        channel.clear();
        start = -1;
      }
    }
    if (start == -1) start = monitorfiles::ModificationTime(folder, name);
    *found = ReadOldFile(monitorfiles::JoinPath(folder, name), channel, title, start);
    return true;
  } catch (const std::exception&) {
    LogError(own ? L"LoadOldFilenames: problem parsing %ls"
                 : L"LoadOldFilenames: problem parsing and adding %ls",
             name.c_str());
    return false;
  }
}

Schedule FileSystemMonitor::ReadOldFile(const std::wstring& path, const std::wstring& channel,
                                        const std::wstring& title, int64_t start) {
  const std::wstring mimetype = DVR::GetTevMimetype(path, !IsAudioFolder());
  Schedule schedule;
  MetadataEditor* editor = m_engine != nullptr ? m_engine->Metadata() : nullptr;
  if (!schedule.PopulateFromFile(editor, path, channel, title, start, mimetype)) {
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
  schedule.m_size = std::max<int64_t>(0, tev::Env::Current().FileSize(path));
  return schedule;
}

bool FileSystemMonitor::AddOldFile(Schedule schedule, std::vector<Schedule>* toPublish) {
  const std::wstring path = schedule.m_filePath;
  // Looked up again: the engine may have added the file since the batch.
  if (IsKnownPath(path)) return false;
  if (m_engine != nullptr && m_engine->IsFileBeingRecorded(path)) {
    LogDebug(L"Recording pending %ls", path.c_str());
    return false;
  }
  schedule.Insert();

  SQLite query;
  query.LimitRows(1);
  if (!query.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ? AND Status = ?",
                      {path, DVRSTATE_COMPLETE}, L"VideoThumbnailCallback") ||
      query.GetRowCount() == 0) {
    return false;
  }
  schedule.m_id = query.GetInt("ID");
  // A found video is published with its thumbnail id; the library asks
  // for the picture itself (NotifyThumbnailNeeded) when it lacks one.
  if (m_engine != nullptr) {
    m_engine->Recorder().Thumbnails().Set(schedule.m_id, IsVideo(schedule.m_channelMimetype));
  }
  toPublish->push_back(std::move(schedule));
  return true;
}
