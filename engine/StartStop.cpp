// Start and stop decisions: how long a recording runs, whether its tuner is
// free, and which running recording is over. Runs on the timer thread
// under the engine lock, and within Schedules::Add and the retry on bus
// threads. Stopping never changes a row's status here: the recorder's end
// report does.
#include <algorithm>
#include <cstdint>
#include <string>

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/RecordingStartStop.h"
#include "engine/Schedules.h"
#include "engine/StartStatus.h"
#include "support/Log.h"

using startstop::kInputDevice;
using startstop::AddSameDeviceClause;

namespace {

// Scheduled or running programmes of the kind (the same capture device) that
// started before `end` - `padding` and go on past `end`.
int32_t RunningAcross(const std::wstring& channelMimetype, const std::wstring& channel,
                      int64_t end, int32_t padding) {
  std::string statement =
      "SELECT ID FROM Schedules WHERE (Status = ? OR Status = ?) AND StartTime < ? AND "
      "EndTime > ? AND ChannelMimetype = ?";
  std::vector<SqlValue> values = {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING,
                                  FormatTime3(end - padding), FormatTime3(end), channelMimetype};
  AddSameDeviceClause(channelMimetype, channel, &statement, &values);
  SQLite query;
  return query.RunQuery(statement, values, L"CalculateAppropriateDuration")
             ? query.GetRowCount()
             : 0;
}

}  // namespace

int32_t RecordingStartStop::CalculateAppropriateDuration(int32_t duration,
                                                         const std::wstring& channelMimetype,
                                                         const std::wstring& channel, int64_t start,
                                                         int64_t end, int64_t now) {
  if (duration == 0) return 0;  // open-ended
  const int32_t padding = GetPaddingTime();

  // The padding after the end is dropped when the next program of the same
  // kind starts around that end and would find every tuner taken.
  bool suffixWanted = true;
  if (DVR::IsTVMimetype(channelMimetype) || channelMimetype == kInputDevice) {
    LogDebug(L"End %ls", FormatTime3(end).c_str());
    std::string statement =
        "SELECT * FROM Schedules WHERE Status = ? AND StartTime >= ? AND StartTime <= ? AND "
        "ChannelMimetype = ?";
    std::vector<SqlValue> values = {DVRSTATE_SCHEDULED, FormatTime3(end - padding),
                                    FormatTime3(end + padding), channelMimetype};
    AddSameDeviceClause(channelMimetype, channel, &statement, &values);
    const int32_t limit = MaxSimultaneousRecordings(channelMimetype);
    SQLite query;
    query.LimitRows(std::max(limit, 1));  // only "at least the limit" matters
    // The tuners wanted right after the end: the programmes starting around
    // it and those still running across it.
    int32_t wanted = 0;
    if (query.RunQuery(statement, values, L"CalculateAppropriateDuration") &&
        query.GetRowCount() > 0) {
      wanted = query.GetRowCount();
      if (wanted < limit) wanted += RunningAcross(channelMimetype, channel, end, padding);
    }
    if (wanted > 0 && wanted >= limit) {
      LogDebug(L"CalculateAppropriateDuration need to end in time for %ls",
               query.GetString("Name").c_str());
      suffixWanted = false;
    }
  }

  const int32_t prefix = std::max<int32_t>(static_cast<int32_t>(start - now), 0);
  const int32_t suffix = suffixWanted ? padding : 0;
  const int32_t newDuration = prefix + duration + suffix;
  LogDebug(L"CalculateAppropriateDuration prefix %d, StartTime %ls, suffix %d, origDur %d, "
           L"newDur %d",
           prefix, FormatTime3(start).c_str(), suffix, duration, newDuration);
  return newDuration;
}

int32_t RecordingStartStop::CalculateAppropriateDuration(const Schedule& row, int64_t now) {
  return CalculateAppropriateDuration(row.m_duration, row.m_channelMimetype, row.m_channel,
                                      row.m_startTime, row.m_endTime, now);
}

bool RecordingStartStop::ChannelBusy(const Schedule& row, int64_t now) {
  // Only tuners and capture devices run out; streams and mail never do.
  if (!DVR::IsTVMimetype(row.m_channelMimetype) && row.m_channelMimetype != kInputDevice) {
    return false;
  }
  std::string statement = "SELECT * FROM Schedules WHERE Status = ? AND ChannelMimetype = ?";
  std::vector<SqlValue> values = {DVRSTATE_RECORDING, row.m_channelMimetype};
  AddSameDeviceClause(row.m_channelMimetype, row.m_channel, &statement, &values);
  SQLite query;
  bool busy = false;
  if (query.RunQuery(statement, values, L"ChannelBusy") && query.GetRowCount() > 0 &&
      query.GetRowCount() >= MaxSimultaneousRecordings(row.m_channelMimetype)) {
    busy = true;
    LogDebug(L"ChannelBusy recording %ls", query.GetString("Name").c_str());
    // A recording still inside its own window gives way to the due row,
    // which starts at a later wake-up once the end is reported. The one
    // that ends first gives way: for a due row that follows another back
    // to back, that is the one before it, never a programme in its middle.
    std::vector<Schedule> running = Schedule::FromRows(query);
    std::stable_sort(running.begin(), running.end(),
                     [](const Schedule& a, const Schedule& b) { return a.m_endTime < b.m_endTime; });
    for (const Schedule& candidate : running) {
      if (StopCurrentRecordingIfAppropriate(candidate, now)) break;
    }
  }
  LogDebug(L"Channel Busy %d", busy ? 1 : 0);
  return busy;
}

bool RecordingStartStop::StopCurrentRecordingIfAppropriate(const Schedule& row, int64_t now) {
  if (row.m_startTime > now || now > row.m_endTime) return false;
  LogDebug(L"StopCurrentRecordingIfAppropriate stop recording");
  m_dvr.StopRecording(row.m_user, row.m_channel, row.m_channelMimetype, row.m_filePath);
  return true;
}

void RecordingStartStop::StopCurrentRecordingsIfOver(int64_t now) {
  SQLite query;
  // One per call: the timer wakes again at once for a further overdue row.
  query.LimitRows(1);
  if (!query.RunQuery("SELECT * FROM Schedules WHERE Status = ?AND EndTime <= ? ORDER BY EndTime",
                      {DVRSTATE_RECORDING, FormatTime3(now - GetPaddingTime())},
                      L"StopCurrentRecordingsIfOver")) {
    return;
  }
  if (query.GetRowCount() == 0) return;
  Schedule row;
  row.FillFromRow(query);
  LogDebug(L"StopCurrentRecordingIfOver stop recording");
  m_dvr.StopRecording(row.m_user, row.m_channel, row.m_channelMimetype, row.m_filePath);
}
