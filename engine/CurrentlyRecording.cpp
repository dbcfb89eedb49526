// The list of recordings in progress that the module tells its listeners
// about ("NotifyPVRRecordingChange").
#include <string>
#include <vector>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/RecordingCompletion.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VelException.h"

int RecordingCompletion::GetCurrentlyRecording(std::vector<CurrentRecording>* out,
                                               bool withMediumIds) {
  // Rows the streamer never reported as finished leave the list first.
  m_engine.Housekeeping().PruneOrphanedRecordings(tev::Clock::Now());
  out->clear();
  SQLite rows;
  if (!rows.RunQuery("SELECT * FROM Schedules WHERE Status = ?", {DVRSTATE_RECORDING},
                     L"Schedules::GetCurrentlyRecording")) {
    return 102;
  }

  const int32_t count = rows.GetRowCount();
  out->reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = rows.GetInt("ID");
    out->push_back({rows.GetString("Name"),
                    withMediumIds ? LocalIds::GetScheduleMediumId(id) : std::wstring(),
                    rows.GetString("ChannelName")});
    rows.Next();
  }
  return 0;
}

void RecordingCompletion::NotifyRecordingChange(PeerClient& peers) {
  try {
    std::vector<CurrentRecording> recordings;
    if (GetCurrentlyRecording(&recordings, true) != 0) return;
    peers.NotifyPVRRecordingChange(recordings);
  } catch (const VelException& e) {
    LogError(L"NotifyPVRRecordingChange: %ls", e.getMessage().c_str());
  }
}

void RecordingCompletion::NotifyStarted(PeerClient& peers, const Schedule& row) {
  peers.NotifyStartRecording(row.m_id, row.m_name, row.m_channelName);
  NotifyRecordingChange(peers);
}

void RecordingCompletion::NotifyStopped(PeerClient& peers, const Schedule& row) {
  peers.NotifyStopRecording(row.m_id, row.m_name, row.m_channelName);
  NotifyRecordingChange(peers);
}
