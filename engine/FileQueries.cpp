// What clients learn about recordings by their medium ids: the file to play
// (or its thumbnail), descriptions of one or many recordings and the play
// position.
//
// Read-mostly wrappers around the Schedules table; any thread may call
// them. Each statement runs under the database lock only.
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

const wchar_t kCaller[] = L"Schedules::GetFilenameFromID";

// Id of the schedule (never a pass) holding the medium id; 0 when none.
int32_t ScheduleIdOf(const std::wstring& mediumId) {
  if (LocalIds::GetType(mediumId) != LocalIds::kTypeSchedule) return 0;
  return LocalIds::GetLocalIdFromTevMediumId(mediumId);
}

// The schedule id of a thumbnail identifier "RT<n>"; 0 for any other text.
int32_t ThumbnailScheduleId(const std::wstring& mediumId) {
  if (mediumId.size() < 3 || mediumId.size() > 12 || mediumId.compare(0, 2, L"RT") != 0) return 0;
  for (size_t i = 2; i < mediumId.size(); ++i) {
    if (!std::iswdigit(mediumId[i])) return 0;
  }
  const int64_t id = tev::Wtoi64(mediumId.substr(2));
  return id > 0 && id <= INT32_MAX ? static_cast<int32_t>(id) : 0;
}

// Runs the lookup by schedule id; true when a row came back (current row).
bool LookUp(int32_t scheduleId, SQLite* query) {
  return scheduleId != 0 &&
         query->RunQuery("SELECT * FROM Schedules WHERE ID = ?", {scheduleId}, kCaller) &&
         query->GetRowCount() > 0;
}

// The recorder's file mime type; empty for a mimetype it does not know.
std::wstring FileMimetype(const std::wstring& channelMimetype) {
  try {
    return DVR::GetRecordingMimetype(channelMimetype);
  } catch (const VelException&) {
    return std::wstring();
  }
}

typedef FileDescription Pairs;

// The description of the current row. `full`: the names of the single
// query with subtitle and play position, else the list query's names.
Pairs Describe(SQLite& row, bool full) {
  Pairs pairs;
  auto add = [&pairs, full](const wchar_t* one, const wchar_t* list, const std::wstring& value) {
    if (full) {
      pairs.emplace_back(one, value);
    } else if (list != nullptr) {
      pairs.emplace_back(list, value);
    }
  };
  add(L"Medium", L"path", row.GetString("FilePath"));
  add(L"Mimetype", L"mimeType", FileMimetype(row.GetString("ChannelMimetype")));
  add(L"Name", L"title", row.GetString("Name"));
  add(L"Channel", L"channel", row.GetString("ChannelName"));
  add(L"Title", L"subTitle", row.GetString("EpisodeTitle"));
  add(L"Url", L"url", row.GetString("EpisodeUrl"));
  add(L"Subtitle", nullptr, row.GetString("Subtitle"));
  add(L"Genre", L"genre", row.GetString("Category"));
  add(L"Description", L"description", row.GetString("Description"));
  add(L"Start Time", L"startTime", row.GetString("StartTime"));
  add(L"Duration", L"duration", FileQueries::DurationText(row.GetInt("Duration")));
  if (full) {
    const int32_t position = row.GetInt("PlayPosition");
    LogDebug(L"Schedules::GetFileInfoFromID: PlayPosition found = %d", position);
    pairs.emplace_back(L"PlayPosition", std::to_wstring(position));
  }
  return pairs;
}

// `head` followed by the placeholders of `ids` as an IN list and `tail`.
std::string InList(const char* head, const std::set<std::wstring>& ids, const char* tail,
                   std::vector<SqlValue>* values) {
  std::string statement = head;
  SQLite::AppendInList(&statement, values, std::vector<SqlValue>(ids.begin(), ids.end()));
  return statement + tail;
}

}  // namespace

std::wstring FileQueries::DurationText(int32_t seconds) {
  if (seconds < 60) return tev::WFormat(L"%d sec", seconds);
  return tev::WFormat(L"%d min", seconds / 60);
}

int FileQueries::SetPlayPosition(const std::wstring& mediumId, int32_t position) {
  const int32_t id = ScheduleIdOf(mediumId);
  if (id == 0) return kResultNoSuchSchedule;
  return Schedule::Update(id, L"PlayPosition", position) ? 0 : kResultStatementFailed;
}

int FileQueries::GetFileInfoFromID(const std::wstring& mediumId, FileDescription* reply) {
  SQLite row;
  if (!LookUp(ScheduleIdOf(mediumId), &row)) {
    reply->clear();
    return kResultNoSuchSchedule;
  }
  *reply = Describe(row, true);
  return 0;
}

int FileQueries::GetFileListInfoFromID(const std::vector<std::wstring>& wanted,
                                     std::vector<FileDescription>* reply) {

  // Two statements for the whole list instead of a few per id: the ids that
  // passes hold name no recording; the rest are looked up at once.
  std::set<std::wstring> distinct(wanted.begin(), wanted.end());
  distinct.erase(std::wstring());
  std::map<std::wstring, Pairs> described;
  if (!distinct.empty()) {
    std::vector<SqlValue> values;
    const std::string passStatement =
        InList("SELECT TevMediumId FROM SeasonPasses WHERE TevMediumId IN ", distinct, "", &values);
    SQLite passes;
    if (!passes.RunQuery(passStatement, values, kCaller)) {
      return kResultStatementFailed;
    }
    std::set<std::wstring> passIds;
    for (int32_t i = 0; i < passes.GetRowCount(); ++i, passes.Next()) {
      passIds.insert(passes.GetString("TevMediumId"));
    }
    SQLite rows;
    values.clear();
    const std::string rowStatement =
        InList("SELECT * FROM Schedules WHERE TevMediumId IN ", distinct, " ORDER BY ID", &values);
    if (!rows.RunQuery(rowStatement, values, kCaller)) {
      return kResultStatementFailed;
    }
    for (int32_t i = 0; i < rows.GetRowCount(); ++i, rows.Next()) {
      const std::wstring id = rows.GetString("TevMediumId");
      if (passIds.count(id) == 0 && described.count(id) == 0) described[id] = Describe(rows, false);
    }
  }
  reply->clear();
  reply->reserve(wanted.size());
  for (const std::wstring& id : wanted) {
    auto found = described.find(id);
    reply->push_back(found == described.end() ? Pairs() : found->second);
  }
  return 0;
}

int FileQueries::GetFilenameFromID(const std::wstring& mediumId, FileLocation* reply) {
  int32_t id = ScheduleIdOf(mediumId);
  const bool thumbnail = id == 0 && (id = ThumbnailScheduleId(mediumId)) != 0;
  SQLite row;
  if (!LookUp(id, &row)) return kResultNoSuchSchedule;
  std::wstring path = row.GetString("FilePath");
  std::wstring mimetype;
  if (thumbnail) {
    path += L".jpg";
    mimetype = L"image/jpeg";
  } else {
    mimetype = FileMimetype(row.GetString("ChannelMimetype"));
  }
  if (path.empty() || !DVR::IsRecordingOnDisk(path)) return kResultFileGone;
  reply->path = path;
  reply->mimetype = mimetype;
  LogDebug(L"File path: %ls", path.c_str());
  return 0;
}
