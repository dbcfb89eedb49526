#include "db/Schedule.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

// "UPDATE Schedules SET <field> = <value> WHERE ID = <id>"; the field is a
// column name of the caller's code.
bool UpdateField(int32_t id, const std::wstring& field, SqlValue value) {
  SQLite query;
  return query.RunQuery("UPDATE Schedules SET " + tev::WideToUtf8(field) + " = ? WHERE ID = ?",
                        {std::move(value), id}, L"Schedule::Update(id, field, value)");
}

const char kSelectByFilePath[] = "SELECT * FROM Schedules WHERE FilePath = ?";

// The columns a writer stores, in the order of the statements that write
// them; the ID, the medium id and the play position have writers of their
// own, and Status is written by a new row's INSERT only (after that by the
// state setter).
const char* const kStoredColumns[] = {
    "User", "ChannelName", "ChannelMimetype", "Channel", "StartTime", "Duration", "EndTime",
    "Name", "Category", "Description", "Quality", "Tuner", "Subtitle", "Status", "Owner",
    "FilePath", "EpisodeTitle", "EpisodeUrl", "Type", "KeepUntil"};

// "INSERT INTO 'Schedules' ('User', ...) VALUES (?, ...)", or, without
// Status, "UPDATE 'Schedules' SET 'User' = ?, ... WHERE ID = ?".
std::string WriteStatement(bool insert) {
  std::string columns, places;
  for (const char* column : kStoredColumns) {
    if (!insert && std::strcmp(column, "Status") == 0) continue;
    if (!columns.empty()) {
      columns += ", ";
      places += ", ";
    }
    columns += std::string("'") + column + (insert ? "'" : "' = ?");
    places += "?";
  }
  return insert ? "INSERT INTO 'Schedules' (" + columns + ") VALUES (" + places + ")"
                : "UPDATE 'Schedules' SET " + columns + " WHERE ID = ?";
}

struct StateName {
  const wchar_t* stored;
  const wchar_t* external;
};

const StateName kStateNames[] = {
    {DVRSTATE_SCHEDULED, L"schedule"},
    {DVRSTATE_RECORDING, L"recording"},
    {DVRSTATE_COMPLETE, L"complete"},
    {DVRSTATE_COMPLETE_PARTIAL, L"partial"},
    {DVRSTATE_CONFLICT, L"conflict"},
    {DVRSTATE_SKIP, L"skip"},
    {DVRSTATE_ERROR, L"error"},
    {DVRSTATE_COULD_NOT_CONNECT, L"invalid"},
    {DVRSTATE_TUNER_BUSY, L"busy"},
    {DVRSTATE_MCE_RUNNING, L"mce"},
    {DVRSTATE_MISSED, L"missed"},
    {DVRSTATE_DISK_FULL, L"diskfull"},
    {DVRSTATE_RETRY, L"retry"},
    {DVRSTATE_DELETED, L"deleted"},
};

struct KeepUntilEntry {
  int32_t code;
  const wchar_t* name;
};

const KeepUntilEntry kKeepUntilNames[] = {
    {UNTIL_SPACE_NEEDED, L"UNTIL_SPACE_NEEDED"},
    {UNTIL_MANUALLY_DELETED, L"UNTIL_MANUALLY_DELETED"},
    {AT_LEAST_1_DAY, L"AT_LEAST_1_DAY"},
    {AT_LEAST_2_DAYS, L"AT_LEAST_2_DAYS"},
    {AT_LEAST_3_DAYS, L"AT_LEAST_3_DAYS"},
    {AT_LEAST_4_DAYS, L"AT_LEAST_4_DAYS"},
    {AT_LEAST_5_DAYS, L"AT_LEAST_5_DAYS"},
    {AT_LEAST_6_DAYS, L"AT_LEAST_6_DAYS"},
    {AT_LEAST_7_DAYS, L"AT_LEAST_7_DAYS"},
};

const wchar_t* const kScheduleMediaStates[] = {
    DVRSTATE_SCHEDULED,  DVRSTATE_CONFLICT,    DVRSTATE_SKIP,         DVRSTATE_ERROR,
    DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_RETRY, DVRSTATE_TUNER_BUSY, DVRSTATE_MCE_RUNNING,
    DVRSTATE_MISSED,     DVRSTATE_DISK_FULL,
};

}  // namespace

Schedule::Schedule() = default;

Schedule::Schedule(int32_t id) { Populate(id); }

Schedule::Schedule(const std::wstring& filename, const std::wstring& status) {
  Populate(filename, status);
}

void Schedule::Populate(int32_t id) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE ID = ?", {id}, L"Populate(id)")) {
    m_id = 0;
    m_duration = 0;
    LogError(L"Populate for id %d, SQL failed query", id);
    return;
  }
  if (query.GetRowCount() == 1) {
    FillFromRow(query);
    return;
  }
  m_id = 0;
  m_duration = 0;
  LogError(L"Populate for id %d, no such id", id);
}

void Schedule::Populate(const std::wstring& filename, const std::wstring& status) {
  SQLite query;
  if (!query.RunQuery(kSelectByFilePath, {filename}, L"Populate(filename, status)")) {
    m_id = 0;
    m_duration = 0;
    LogError(L"Populate for filename %ls, SQL failed query", filename.c_str());
    return;
  }
  const int32_t rows = query.GetRowCount();
  if (rows == 1) {
    FillFromRow(query);
    return;
  }
  m_id = 0;
  m_duration = 0;
  if (rows == 0) {
    LogError(L"Populate for filename %ls and status %ls, no such file in DB", filename.c_str(),
             status.c_str());
  } else {
    LogError(L"Populate for filename %ls, file not unique in DB", filename.c_str());
  }
}

std::vector<Schedule> Schedule::FromRows(SQLite& query) {
  std::vector<Schedule> rows(query.GetRowCount());
  for (Schedule& row : rows) {
    row.FillFromRow(query);
    query.Next();
  }
  return rows;
}

std::vector<Schedule> Schedule::LoadMany(const std::vector<int32_t>& ids, const wchar_t* caller) {
  if (ids.empty()) return {};
  std::string statement = "SELECT * FROM Schedules WHERE ID IN ";
  std::vector<SqlValue> values;
  SQLite::AppendInList(&statement, &values, std::vector<SqlValue>(ids.begin(), ids.end()));
  statement += " ORDER BY ID";
  SQLite query;
  if (!query.RunQuery(statement, values, caller)) return {};
  return FromRows(query);
}

void Schedule::FillFromRow(SQLite& query) {
  m_id = query.GetInt("ID");
  m_tevMediumId = query.GetString("TevMediumId");
  m_user = tev::Trim(query.GetString("User"));
  m_type = tev::Trim(query.GetString("Type"));
  m_status = tev::Trim(query.GetString("Status"));
  m_channelName = tev::Trim(query.GetString("ChannelName"));
  m_channelMimetype = tev::Trim(query.GetString("ChannelMimetype"));
  m_channel = tev::Trim(query.GetString("Channel"));
  m_owner = tev::Trim(query.GetString("Owner"));
  m_startTime = query.GetTime("StartTime");
  m_endTime = query.GetTime("EndTime");
  m_duration = query.GetInt("Duration");
  m_name = tev::Trim(query.GetString("Name"));
  m_category = tev::Trim(query.GetString("Category"));
  m_episodeTitle = tev::Trim(query.GetString("EpisodeTitle"));
  m_episodeUrl = tev::Trim(query.GetString("EpisodeUrl"));
  m_description = tev::Trim(query.GetString("Description"));
  m_filePath = tev::Trim(query.GetString("FilePath"));
  m_quality = query.GetString("Quality");
  m_tuner = tev::Trim(query.GetString("Tuner"));
  m_subtitle = tev::Trim(query.GetString("Subtitle"));
  m_keepUntil = query.GetInt("KeepUntil");
}

bool Schedule::Insert() {
  if (GetIdFromPath(m_filePath) > 0) {
    LogWarn(L"WARNING inserting duplicate schedule %ls", m_filePath.c_str());
  }
  std::wstring start, end;
  if (!TimeTexts(L"Schedule::Insert", &start, &end)) return false;
  SQLite query;
  return RunInsert(query, start, end, L"Schedule::Insert");
}

bool Schedule::RunInsert(SQLite& query, const std::wstring& startText, const std::wstring& endText,
                         const std::wstring& caller) const {
  static const std::string statement = WriteStatement(true);
  return query.RunQuery(statement, StoredValues(startText, endText, true), caller);
}

bool Schedule::Update() {
  std::wstring start, end;
  if (!TimeTexts(L"Schedule::Update", &start, &end)) return false;
  static const std::string statement = WriteStatement(false);
  std::vector<SqlValue> values = StoredValues(start, end, false);
  values.emplace_back(m_id);
  SQLite query;
  return query.RunQuery(statement, values, L"Schedule::Update");
}

std::vector<SqlValue> Schedule::StoredValues(const std::wstring& startText,
                                             const std::wstring& endText, bool withStatus) const {
  // In the order of kStoredColumns.
  std::vector<SqlValue> values{m_user,        m_channelName, m_channelMimetype, m_channel,
                               startText,     m_duration,    endText,           m_name,
                               m_category,    m_description, m_quality,         m_tuner,
                               m_subtitle};
  if (withStatus) values.emplace_back(m_status);
  for (SqlValue v : {SqlValue(m_owner), SqlValue(m_filePath), SqlValue(m_episodeTitle),
                     SqlValue(m_episodeUrl), SqlValue(m_type), SqlValue(m_keepUntil)}) {
    values.push_back(std::move(v));
  }
  return values;
}

bool Schedule::TimeTexts(const wchar_t* caller, std::wstring* start, std::wstring* end) const {
  try {
    *start = StartTimeText();
    *end = EndTimeText();
    return true;
  } catch (const VelException& e) {
    LogError(L"%ls: %ls", caller, e.getMessage().c_str());
    return false;
  }
}

std::wstring Schedule::StartTimeText() const { return FormatTime3(m_startTime); }

std::wstring Schedule::EndTimeText() const { return FormatTime3(m_endTime); }

bool Schedule::Update(int32_t id, const std::wstring& field, const std::wstring& value) {
  return UpdateField(id, field, value);
}

bool Schedule::Update(int32_t id, const std::wstring& field, int32_t value) {
  return UpdateField(id, field, value);
}

bool Schedule::Delete(int32_t id) {
  SQLite query;
  return query.RunQuery("DELETE FROM Schedules WHERE ID = ?", {id}, L"Schedule::Delete");
}

bool Schedule::Delete(const std::wstring& filePath) {
  SQLite query;
  return query.RunQuery("DELETE FROM Schedules WHERE FilePath = ?", {filePath},
                        L"Schedule::Delete");
}

bool Schedule::Delete(int64_t now) {
  SQLite query;
  return query.RunQuery(
      "DELETE FROM Schedules WHERE (Status = ? OR Status = ?) AND EndTime < ?",
      {DVRSTATE_DELETED, DVRSTATE_CONFLICT, SqlValue::TimeNumber(now - 60)}, L"Schedule::Delete");
}

std::wstring Schedule::GetPathFromId(const std::wstring& id) {
  // Only a plain decimal names a row; it is bound as the number it reads.
  std::wstring digits = tev::Trim(id);
  size_t start = (!digits.empty() && (digits[0] == L'-' || digits[0] == L'+')) ? 1 : 0;
  if (digits.size() <= start) return std::wstring();
  for (size_t i = start; i < digits.size(); ++i) {
    if (digits[i] < L'0' || digits[i] > L'9') return std::wstring();
  }
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE ID = ?", {SqlValue::Utf8(tev::WideToUtf8(digits))},
                      L"GetPathFromId") ||
      query.GetRowCount() < 1) {
    return std::wstring();
  }
  return query.GetString("FilePath");
}

int32_t Schedule::GetIdFromPath(const std::wstring& path) {
  SQLite query;
  if (!query.RunQuery(kSelectByFilePath, {path}, L"GetIdFromPath") ||
      query.GetRowCount() < 1) {
    return -1;
  }
  return query.GetInt("ID");
}

std::wstring Schedule::GetMediaTypeFromMediumId(const std::wstring& mediumId) {
  std::wstring result = L"video.recorded";
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE TevMediumId = ?", {mediumId},
                      L"GetIdFromPath") ||
      query.GetRowCount() < 1) {
    return result;
  }
  std::wstring type = MediaTypeForMimetype(query.GetString("ChannelMimetype"));
  if (IsScheduleMediaState(query.GetString("Status"))) return L"schedule." + type;
  return type;
}

int32_t Schedule::KeepUntilCodeFromName(const std::wstring& name) {
  for (const KeepUntilEntry& entry : kKeepUntilNames) {
    if (name == entry.name) return entry.code;
  }
  return UNTIL_SPACE_NEEDED;
}

std::wstring Schedule::KeepUntilName(int32_t code) {
  for (const KeepUntilEntry& entry : kKeepUntilNames) {
    if (code == entry.code) return entry.name;
  }
  return L"UNTIL_SPACE_NEEDED";
}

std::wstring Schedule::ExternalStateName(const std::wstring& status) {
  for (const StateName& entry : kStateNames) {
    if (status == entry.stored) return entry.external;
  }
  return std::wstring();
}

bool Schedule::IsScheduleMediaState(const std::wstring& status) {
  for (const wchar_t* state : kScheduleMediaStates) {
    if (status == state) return true;
  }
  return false;
}

std::wstring Schedule::MediaTypeForMimetype(const std::wstring& mimetype) {
  if (tev::StartsWith(mimetype, L"video/x-web")) return L"video.file.recorded.web";
  if (tev::StartsWith(mimetype, L"audio/x-web") || tev::StartsWith(mimetype, L"audio/x-win") ||
      tev::StartsWith(mimetype, L"audio/x-ms-asf") || tev::StartsWith(mimetype, L"audio/x-real")) {
    return L"audio.file.recorded.web";
  }
  if (tev::StartsWith(mimetype, L"video/x-inputdevice")) return L"video.file.recorded.webcam";
  if (tev::StartsWith(mimetype, L"video/x-videomail")) return L"video.file.uploaded.videomail";
  if (tev::StartsWith(mimetype, L"audio/x-videomail")) return L"audio.file.uploaded.videomail";
  if (tev::StartsWith(mimetype, L"audio")) return L"audio.file";
  if (tev::StartsWith(mimetype, L"video")) return L"video.file.recorded.tv";
  return L"video.file.recorded";
}
