#include "passes/EpisodeRow.h"

#include <ctime>

#include "db/MktimeMemo.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"

int32_t EpisodeRow::Insert(const wchar_t* caller) const {
  Schedule row;
  row.m_user = user;
  row.m_channelName = channelName;
  row.m_channelMimetype = channelMimetype;
  row.m_channel = channel;
  row.m_duration = duration;
  row.m_name = name;
  row.m_category = category;
  row.m_description = description;
  row.m_quality = quality;
  row.m_tuner = L"Any";
  row.m_subtitle = subtitle;
  row.m_status = status;
  row.m_owner = owner;
  row.m_filePath = filePath;
  row.m_type = L"Automatic";
  row.m_keepUntil = keepUntil;
  SQLite insert;
  if (!row.RunInsert(insert, FormatTime3(start), FormatTime3(start + duration), caller)) {
    return 0;
  }
  SQLite id;
  if (!id.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ? AND Status=?", {filePath, status},
                   caller) ||
      id.GetRowCount() != 1) {
    return 0;
  }
  return id.GetInt("ID");
}

int64_t LocalWallClockToUtc(int64_t localSeconds) {
  const time_t asUtc = static_cast<time_t>(localSeconds);
  struct tm fields {};
  gmtime_r(&asUtc, &fields);
  fields.tm_isdst = -1;
  return tev::MemoisedMktime(fields);
}
