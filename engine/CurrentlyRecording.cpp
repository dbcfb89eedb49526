// The list of recordings in progress that the module tells its listeners
// about ("NotifyPVRRecordingChange").
#include <string>
#include <vector>

#include "bus/CVelAtl.h"
#include "bus/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"

int Schedules::GetCurrentlyRecording(std::vector<CurrentRecording>* out) {
  // Rows the streamer never reported as finished leave the list first.
  PruneOrphanedRecordings(tev::Clock::Now());
  out->clear();
  SQLite rows;
  const std::wstring statement =
      tev::WFormat(L"SELECT * FROM Schedules WHERE %ls = '%ls'", L"Status", DVRSTATE_RECORDING);
  if (!rows.RunQuery(statement, L"Schedules::GetCurrentlyRecording")) return 102;

  const bool haveEndpoint = TheVel() != nullptr;
  const int32_t count = rows.GetRowCount();
  out->reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = rows.GetInt("ID");
    out->push_back({rows.GetString("Name"),
                    haveEndpoint ? LocalIds::GetScheduleMediumId(id) : std::wstring(),
                    rows.GetString("ChannelName")});
    rows.Next();
  }
  return 0;
}
