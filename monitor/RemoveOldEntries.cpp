// Finished recordings whose files are gone leave the table, the media
// library and the thumbnail service.
#include <string>
#include <utility>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "monitor/FileSystemMonitor.h"
#include "monitor/ThumbnailTable.h"
#include "support/Log.h"

namespace {

struct GoneRow {
  int32_t id;
  std::wstring mediumId;
  std::wstring path;
};

}  // namespace

void FileSystemMonitor::RemoveOldDBEntries() {
  // Only the columns used: the table may hold many thousands of rows.
  SQLite query;
  const std::wstring statement = tev::WFormat(
      L"SELECT ID, TevMediumId, FilePath FROM Schedules WHERE %ls = '%ls' OR %ls = '%ls'",
      L"Status", DVRSTATE_COMPLETE_PARTIAL, L"Status", DVRSTATE_COMPLETE);
  if (!query.RunQuery(statement, L"FileSystemMonitor::RemoveDBEntries")) return;

  std::vector<GoneRow> gone;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    if (m_abort) return;
    const std::wstring path = query.GetString("FilePath");
    if (DVR::IsRecordingExtension(path) && DVR::IsRecordingOnDisk(path)) continue;
    GoneRow row{query.GetInt("ID"), query.GetString("TevMediumId"), path};
    LogInfo(L"RemoveOldDBEntries: removing #%ls %ls", row.mediumId.c_str(), row.path.c_str());
    gone.push_back(std::move(row));
  }
  if (gone.empty()) return;

  std::vector<std::wstring> mediumIds;
  for (const GoneRow& row : gone) {
    if (!row.mediumId.empty()) mediumIds.push_back(row.mediumId);
  }
  if (!mediumIds.empty()) {
    if (CVelAtl* vel = TheVel()) vel->DeleteMedia(mediumIds, true, false);
  }
  for (const GoneRow& row : gone) {
    if (m_abort) return;
    Schedule::Delete(row.id);
    if (GetThumbnailEntry(row.id)) DVR::DeleteThumbnail(row.path);
  }
}
