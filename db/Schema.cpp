// The schema of a new database: the only place that defines the tables and
// the rows a new file starts with.
#include "db/SQLite.h"

#include "support/Log.h"

namespace {

const char* const kCreateTables[] = {
    "CREATE TABLE 'Schedules' ('ID' integer PRIMARY KEY AUTOINCREMENT, 'TevMediumId' varchar, "
    "'User' varchar, 'Type' varchar, 'Status' varchar, 'ChannelName' varchar, 'ChannelMimetype' "
    "varchar, 'Channel' varchar, 'Owner' varchar, 'StartTime' integer, 'EndTime' integer, "
    "'Duration' integer, 'Name' varchar, 'Category' varchar, 'EpisodeTitle' varchar, "
    "'EpisodeUrl' varchar, 'Description' varchar, 'FilePath' varchar, 'Quality' varchar, "
    "'Tuner' varchar, 'Subtitle' varchar, 'KeepUntil' integer, 'StartPadding' integer, "
    "'EndPadding' integer, 'PlayPosition' integer,'ThumbnailState' varchar)",
    "CREATE TABLE SeasonPasses ('ID' integer PRIMARY KEY AUTOINCREMENT, 'TevMediumId' varchar, "
    "'User' varchar, 'Priority' integer, 'Category' varchar, 'ProgramName' varchar, "
    "'RestrictToOneChannel' integer, 'ChannelName' varchar, 'ChannelMimetype' varchar, "
    "'ChannelMedium' varchar, 'Quality' varchar, 'ScheduleMode' integer, 'StartDate' integer, "
    "'PauseStart' integer, 'PauseEnd' integer, 'LastSearched' integer, 'KeepUntil' integer, "
    "'Duration' integer, 'GuideType' integer, 'EndPadding' integer, 'StartPadding' integer )",
    "CREATE TABLE 'Config' ('Key' varchar, 'Value' varchar )",
};

const char* const kDefaultData[] = {
    "INSERT INTO 'Config' ('Key', 'Value') VALUES ('FreeSpaceRequired', '200')",
    "INSERT INTO 'Config' ('Key', 'Value') VALUES ('Version', '7')",
    "INSERT INTO 'Config' ('Key', 'Value') VALUES ('StartPadding', '30')",
    "INSERT INTO 'Config' ('Key', 'Value') VALUES ('EndPadding', '0')",
};

}  // namespace

bool SQLite::CreateTables() {
  LogDebug(L"Creating Tables: Begin");
  for (const char* statement : kCreateTables) {
    if (!RunQuery(statement, L"CreateTables()")) return false;
  }
  LogDebug(L"Creating Tables: End");
  return true;
}

bool SQLite::AddDefaultData() {
  for (const char* statement : kDefaultData) {
    if (!RunQuery(statement, L"AddDefaultData()")) return false;
  }
  return true;
}

bool SQLite::CreateSideTables() {
  return RunQuery("CREATE TABLE IF NOT EXISTS 'FailureReasons' ('ScheduleId' integer PRIMARY KEY, "
                  "'Reason' varchar)",
                  L"FailureReasons") &&
         RunQuery("CREATE TABLE IF NOT EXISTS 'ConflictReasons' ('ScheduleId' integer PRIMARY KEY, "
                  "'Reason' varchar)",
                  L"ConflictReasons") &&
         RunQuery("CREATE TABLE IF NOT EXISTS 'EpisodeKeys' ('ScheduleId' integer PRIMARY KEY, "
                  "'PassId' integer, 'Episode' varchar)",
                  L"EpisodeKeys") &&
         RunQuery("CREATE INDEX IF NOT EXISTS 'EpisodeKeysByPass' ON 'EpisodeKeys' ('PassId', "
                  "'Episode')",
                  L"EpisodeKeys") &&
         RunQuery("CREATE TABLE IF NOT EXISTS 'Streams' ('FilePath' varchar PRIMARY KEY, "
                  "'StreamId' integer)",
                  L"StreamStore");
}
