// The medium-id store of schedules and the one-time identifier migration of
// the version-5 database upgrade.
#include "outbound/PeerClient.h"
#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

void RunAssign(const char* statement, const std::vector<SqlValue>& values) {
  SQLite query;
  if (!query.RunQuery(statement, values, L"UpdateMedium")) {
    LogError(L"Schedules::AssignTevMediumId: SQL error for %ls", query.FailedStatement().c_str());
  }
}

}  // namespace

void Schedules::AssignTevMediumId(int scheduleId, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE ID = ?", {mediumId, scheduleId});
}

void Schedules::AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId) {
  RunAssign("UPDATE Schedules SET TevMediumId = ? WHERE FilePath = ?", {mediumId, filePath});
}

bool Schedules::ChangeMediumIds() {
  SQLite rows;
  if (!rows.RunQuery("SELECT * FROM Schedules", L"ChangeMediumIds")) {
    LogError(L"Schedules::ChangeMediumIds: SQL error for %ls", rows.FailedStatement().c_str());
    return false;
  }
  try {
    for (int32_t i = 0; i < rows.GetRowCount(); ++i) {
      const int32_t id = rows.GetInt("ID");
      const std::wstring status = rows.GetString("Status");
      const std::wstring mimetype = rows.GetString("ChannelMimetype");
      const std::wstring thumbnailFile = rows.GetString("FilePath") + L".jpg";
      rows.Next();

      PeerClient* vel = LivePeers();
      if (vel == nullptr) throw VelException(L"no bus endpoint");
      const std::wstring oldKey = LocalIds::ScheduleKey(id);

      if ((status == DVRSTATE_COMPLETE || status == DVRSTATE_COMPLETE_PARTIAL) &&
          mimetype.compare(0, 5, L"video") == 0) {
        const long result = vel->SetThumbnailUrl(oldKey, thumbnailFile);
        // A thumbnail the library cannot take is not worth stopping the
        // migration for; the identifier change below still runs.
        if (result != 0) {
          LogError(L"SetThumbnailUrl vel request error: %x", static_cast<unsigned>(result));
        }
      }

      std::wstring newId;
      const long result = vel->ChangeMediaId(oldKey, &newId);
      if (result != 0) {
        throw VelException(
            tev::WFormat(L"ChangeMediaId vel request error: %x", static_cast<unsigned>(result)));
      }
      AssignTevMediumId(id, newId);
    }
  } catch (const VelException& e) {
    LogError(L"Schedules::ChangeMediumIds: %ls", e.getMessage().c_str());
    return false;
  }
  return true;
}
