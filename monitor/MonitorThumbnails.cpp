// Thumbnails at the first pass of a run: stale thumbnail files in the video
// folder go, and the thumbnail table learns which finished recordings have
// one in the thumbnail service.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/SchedulePages.h"
#include "platform/FolderListing.h"
#include "platform/WideText.h"
#include "support/Log.h"

namespace {

// Paths per "Are Thumbnails In DB" request, so that a large table stays
// well inside the bus's payload limit.
constexpr int32_t kPathsPerRequest = 500;

const char* const kThumbnailEndings[] = {".my-tevthumb", ".ms-dvr.jpg", "Tev.rm.jpg",
                                         "Tev.asf.jpg"};

bool EndsWith(const std::string& name, const char* ending) {
  const size_t length = std::strlen(ending);
  return name.size() >= length && name.compare(name.size() - length, length, ending) == 0;
}

bool IsThumbnailName(const std::string& name) {
  for (const char* ending : kThumbnailEndings) {
    if (EndsWith(name, ending)) return true;
  }
  return false;
}

}  // namespace

void FileSystemMonitor::RemoveOldThumbnails(const std::wstring& folder) {
  if (Kind() != L"video") return;
  const std::string folderBytes = tev::ToStdUtf8(folder);
  tev::ListFolder(folderBytes, [&](const tev::FolderEntry& entry) {
    if (m_abort) return false;
    if (entry.kind == tev::FolderEntry::kFolder || !IsThumbnailName(entry.name)) return true;
    // By the listed bytes, so any name goes; a link is removed, never what
    // it leads to.
    const std::string path = folderBytes + "/" + entry.name;
    if (::unlink(path.c_str()) != 0) {
      LogWarn(L"RemoveOldThumbnails: could not delete %ls", tev::FromStdUtf8(path).c_str());
    }
    return true;
  });
}

void FileSystemMonitor::CheckIfThumbnailsExist() {
  const std::wstring kind = Kind();
  if (kind != L"video" && kind != L"MediaCenter") return;
  std::vector<int32_t> ids;
  std::vector<std::wstring> paths;
  // One question to the service per page of rows.
  auto ask = [&] {
    const std::vector<bool> exists = m_engine->Recorder().DoThumbnailsExistInDB(paths);
    // No answer (a failed request) leaves the table as it was.
    for (size_t i = 0; i < exists.size(); ++i)
      m_engine->Recorder().Thumbnails().Set(ids[i], exists[i]);
    ids.clear();
    paths.clear();
  };
  monitorpages::ForEachRow("ID, FilePath, ChannelMimetype",
                           "ChannelMimetype != ? AND (Status = ? OR Status = ?)",
                           {L"video/x-videomail", DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL},
                           kPathsPerRequest,
                           L"CheckIfThumbnailsExist", [&](SQLite& row) {
                             if (m_abort) return false;
                             if (row.GetString("ChannelMimetype").compare(0, 5, L"video") != 0) {
                               return true;
                             }
                             ids.push_back(row.GetInt("ID"));
                             paths.push_back(row.GetString("FilePath"));
                             if (paths.size() == static_cast<size_t>(kPathsPerRequest)) ask();
                             return true;
                           });
  if (!m_abort) ask();
}
