// The medium-id store of schedules and the one-time identifier migration of
// the version-5 database upgrade.
#include "bus/CVelAtl.h"
#include "bus/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VUtil.h"

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

      CVelAtl* vel = TheVel();
      if (vel == nullptr) throw VelException(L"no bus endpoint");
      const std::wstring oldKey = LocalIds::ScheduleKey(id);

      if ((status == DVRSTATE_COMPLETE || status == DVRSTATE_COMPLETE_PARTIAL) &&
          mimetype.compare(0, 5, L"video") == 0) {
        AutoVariant in, out, retcodes;
        VUtil::CreateArray(&in, VT_VARIANT, 3);
        VUtil::PutElement(&in, 0, oldKey);
        VUtil::PutElement(&in, 1, thumbnailFile);
        VUtil::PutElement(&in, 2, false);
        long result = vel->Request(L"any", L"SetThumbnailUrl", in, &out, 0, &retcodes);
        // A thumbnail the library cannot take is not worth stopping the
        // migration for; the identifier change below still runs.
        if (result != 0) {
          LogError(L"SetThumbnailUrl vel request error: %x", static_cast<unsigned>(result));
        }
      }

      AutoVariant in, out, retcodes, keys;
      VUtil::CreateArray(&keys, VT_BSTR, 1);
      VUtil::PutElement(&keys, 0, oldKey);
      VUtil::CreateArray(&in, VT_VARIANT, 1);
      VUtil::PutElement(&in, 0, keys.get());
      long result = vel->Request(L"any", L"ChangeMediaId", in, &out, 0, &retcodes);
      if (result != 0) {
        throw VelException(
            tev::WFormat(L"ChangeMediaId vel request error: %x", static_cast<unsigned>(result)));
      }
      VUtil::CheckSingleRetcode(retcodes, L"ChangeMediaId");
      AutoVariant newIds;
      VUtil::GetElement(out.get(), 0, &newIds);
      AssignTevMediumId(id, VUtil::GetStringElement(newIds.get(), 0));
    }
  } catch (const VelException& e) {
    LogError(L"Schedules::ChangeMediumIds: %ls", e.getMessage().c_str());
    return false;
  }
  return true;
}
