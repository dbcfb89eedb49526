// The list of recordings in progress that the module tells its listeners
// about ("NotifyPVRRecordingChange").
#include <string>

#include "bus/CVelAtl.h"
#include "bus/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VUtil.h"

int Schedules::GetCurrentlyRecording(VARIANT* out) {
  // Rows the streamer never reported as finished leave the list first.
  PruneOrphanedRecordings(tev::Clock::Now());
  VUtil::CreateArray(out, VT_VARIANT, 0);
  SQLite rows;
  if (!rows.RunQuery("SELECT * FROM Schedules WHERE Status = ?", {DVRSTATE_RECORDING},
                     L"Schedules::GetCurrentlyRecording")) {
    return 102;
  }

  const bool haveEndpoint = TheVel() != nullptr;
  const int32_t count = rows.GetRowCount();
  VUtil::ResizeArray(out, count);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = rows.GetInt("ID");
    AutoVariant entry;
    VUtil::CreateArray(&entry, VT_VARIANT, 3);
    VUtil::PutElement(&entry, 0, rows.GetString("Name"));
    VUtil::PutElement(&entry, 1, haveEndpoint ? LocalIds::GetScheduleMediumId(id) : std::wstring());
    VUtil::PutElement(&entry, 2, rows.GetString("ChannelName"));
    VUtil::PutElement(out, i, entry.get());
    rows.Next();
  }
  return 0;
}
