#include "passes/EpisodeRow.h"

#include <ctime>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"

int32_t EpisodeRow::Insert(const wchar_t* caller) const {
  auto e = [](const std::wstring& text) { return SQLite::Escape(text); };
  const std::wstring startText = FormatTime3(start);
  const std::wstring endText = FormatTime3(start + duration);
  SQLite insert;
  if (!insert.RunQuery(
          tev::WFormat(
              L"INSERT INTO 'Schedules' ('User', 'ChannelName', 'ChannelMimetype', 'Channel', "
              L"'StartTime', 'Duration', 'EndTime', 'Name', 'Category', 'Description', "
              L"'Quality', 'Tuner', 'Subtitle', 'Status', 'Owner', 'FilePath', 'EpisodeTitle', "
              L"'EpisodeUrl', 'Type', 'KeepUntil') VALUES ('%ls', '%ls', '%ls', '%ls', '%ls', "
              L"%d, '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', '%ls', "
              L"'%ls', '%ls', %d)",
              e(user).c_str(), e(channelName).c_str(), e(channelMimetype).c_str(),
              e(channel).c_str(), startText.c_str(), duration, endText.c_str(), e(name).c_str(),
              e(category).c_str(), e(description).c_str(), e(quality).c_str(), L"Any",
              e(subtitle).c_str(), status.c_str(), e(owner).c_str(), e(filePath).c_str(), L"", L"",
              L"Automatic", keepUntil),
          caller)) {
    return 0;
  }
  SQLite id;
  if (!id.RunQuery(tev::WFormat(L"SELECT ID FROM Schedules WHERE FilePath = '%ls' AND Status='%ls'",
                                e(filePath).c_str(), status.c_str()),
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
  return static_cast<int64_t>(mktime(&fields));
}
