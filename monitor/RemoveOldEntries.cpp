// Finished recordings whose files are gone leave the table, the media
// library and the thumbnail service.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/SchedulePages.h"
#include "monitor/ThumbnailTable.h"
#include "support/Log.h"

namespace {

// Rows read per statement.
constexpr size_t kRowsPerPage = 500;

struct GoneRow {
  int32_t id;
  std::wstring mediumId;
  std::wstring path;
};

}  // namespace

void FileSystemMonitor::RemoveOldDBEntries() {
  std::vector<GoneRow> gone;
  const std::wstring finished = tev::WFormat(L"%ls = '%ls' OR %ls = '%ls'", L"Status",
                                             DVRSTATE_COMPLETE_PARTIAL, L"Status",
                                             DVRSTATE_COMPLETE);
  const bool read = monitorpages::ForEachRow(
      L"ID, TevMediumId, FilePath", finished, static_cast<int32_t>(kRowsPerPage),
      L"FileSystemMonitor::RemoveDBEntries",
      [&](SQLite& row) {
        if (m_abort) return false;
        const std::wstring path = row.GetString("FilePath");
        if (DVR::IsRecordingExtension(path) && DVR::IsRecordingOnDisk(path)) return true;
        GoneRow entry{row.GetInt("ID"), row.GetString("TevMediumId"), path};
        LogInfo(L"RemoveOldDBEntries: removing #%ls %ls", entry.mediumId.c_str(),
                entry.path.c_str());
        gone.push_back(std::move(entry));
        return true;
      });
  if (!read || m_abort) return;
  if (gone.empty()) return;

  std::vector<std::wstring> mediumIds;
  for (const GoneRow& row : gone) {
    if (!row.mediumId.empty()) mediumIds.push_back(row.mediumId);
  }
  if (!mediumIds.empty()) {
    if (CVelAtl* vel = TheVel()) vel->DeleteMedia(mediumIds, true, false);
  }
  // The rows go a page at a time, each page in one statement.
  for (size_t first = 0; first < gone.size() && !m_abort; first += kRowsPerPage) {
    const size_t last = std::min(gone.size(), first + kRowsPerPage);
    std::wstring ids;
    for (size_t i = first; i < last; ++i) {
      ids += (ids.empty() ? L"" : L", ") + std::to_wstring(gone[i].id);
    }
    SQLite remove;
    if (!remove.RunQuery(tev::WFormat(L"DELETE FROM Schedules WHERE ID IN (%ls)", ids.c_str()),
                         L"FileSystemMonitor::RemoveDBEntries")) {
      return;
    }
    for (size_t i = first; i < last && !m_abort; ++i) {
      if (GetThumbnailEntry(gone[i].id)) DVR::DeleteThumbnail(gone[i].path);
    }
  }
}
