// The schema of a new database: the only place that defines the tables and
// the rows a new file starts with.
#include "db/SQLite.h"

#include "support/Log.h"

namespace {

const wchar_t* const kCreateTables[] = {
    L"CREATE TABLE 'Schedules' ('ID' integer PRIMARY KEY AUTOINCREMENT, 'TevMediumId' varchar, "
    L"'User' varchar, 'Type' varchar, 'Status' varchar, 'ChannelName' varchar, 'ChannelMimetype' "
    L"varchar, 'Channel' varchar, 'Owner' varchar, 'StartTime' integer, 'EndTime' integer, "
    L"'Duration' integer, 'Name' varchar, 'Category' varchar, 'EpisodeTitle' varchar, "
    L"'EpisodeUrl' varchar, 'Description' varchar, 'FilePath' varchar, 'Quality' varchar, "
    L"'Tuner' varchar, 'Subtitle' varchar, 'KeepUntil' integer, 'StartPadding' integer, "
    L"'EndPadding' integer, 'PlayPosition' integer,'ThumbnailState' varchar)",
    L"CREATE TABLE SeasonPasses ('ID' integer PRIMARY KEY AUTOINCREMENT, 'TevMediumId' varchar, "
    L"'User' varchar, 'Priority' integer, 'Category' varchar, 'ProgramName' varchar, "
    L"'RestrictToOneChannel' integer, 'ChannelName' varchar, 'ChannelMimetype' varchar, "
    L"'ChannelMedium' varchar, 'Quality' varchar, 'ScheduleMode' integer, 'StartDate' integer, "
    L"'PauseStart' integer, 'PauseEnd' integer, 'LastSearched' integer, 'KeepUntil' integer, "
    L"'Duration' integer, 'GuideType' integer, 'EndPadding' integer, 'StartPadding' integer )",
    L"CREATE TABLE 'Config' ('Key' varchar, 'Value' varchar )",
};

const wchar_t* const kDefaultData[] = {
    L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('FreeSpaceRequired', '200')",
    L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('Version', '7')",
    L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('StartPadding', '30')",
    L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('EndPadding', '0')",
};

}  // namespace

bool SQLite::CreateTables() {
  LogDebug(L"Creating Tables: Begin");
  for (const wchar_t* statement : kCreateTables) {
    if (!RunQuery(statement, L"CreateTables()")) return false;
  }
  LogDebug(L"Creating Tables: End");
  return true;
}

bool SQLite::AddDefaultData() {
  for (const wchar_t* statement : kDefaultData) {
    if (!RunQuery(statement, L"AddDefaultData()")) return false;
  }
  return true;
}
