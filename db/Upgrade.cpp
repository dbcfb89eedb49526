// The upgrade chain of older database files, versions 2 to 6. Each step
// hands over to the next by calling it, so an upgrade from version N runs
// every later step. A failing ALTER (the column is already there) counts as
// done; a step stops the chain only where its own rule says so, and the
// "Version" text it leaves makes the next start resume from there:
//
//   2 -> 3 -> writes "6" -> 4 writes "5" -> 5 writes "6" -> 6 writes "7"
//
// so a chain that stops in the version-5 step leaves "5".
#include <string>

#include "db/Config.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "passes/SeasonPasses.h"
#include "support/Log.h"

namespace {

const wchar_t kNotUpdated[] = L"Schedules table NOT updated, already up to date";

// Runs an ALTER on a fresh query object and logs which way it went.
void Alter(const wchar_t* statement, const wchar_t* caller, const wchar_t* updated,
           const wchar_t* notUpdated) {
  SQLite query;
  if (query.RunQuery(statement, caller)) {
    LogDebug(L"%ls", updated);
  } else {
    LogDebug(L"%ls", notUpdated);
  }
}

}  // namespace

void SQLite::UpdateSchedulesFromVersion2() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion2";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion3: updating Schedules table ... ");
  if (!RunQuery(L"ALTER TABLE Schedules ADD 'PlayPosition' integer", kCaller)) {
    LogDebug(kNotUpdated);
  } else {
    LogDebug(L"Schedules table updated");
    if (!RunQuery(L"UPDATE Schedules SET 'PlayPosition' = 0", kCaller)) return;
  }
  UpdateSchedulesFromVersion3();
}

void SQLite::UpdateSchedulesFromVersion3() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion3";
  Schedule::Delete();
  LogDebug(L"SQLite::UpdateSchedulesFromVersion3: updating Schedules table ... ");
  const wchar_t* const kAlters[] = {
      L"ALTER TABLE SeasonPasses ADD 'User' varchar",
      L"ALTER TABLE SeasonPasses ADD 'Priority' integer",
      L"ALTER TABLE SeasonPasses ADD 'StartPadding' integer",
      L"ALTER TABLE SeasonPasses ADD 'EndPadding' integer",
      L"ALTER TABLE Schedules ADD 'StartPadding' integer",
      L"ALTER TABLE Schedules ADD 'EndPadding' integer",
  };
  for (const wchar_t* statement : kAlters) {
    Alter(statement, kCaller, L"Schedules table updated", kNotUpdated);
  }
  {
    SQLite defaults;
    defaults.RunQuery(L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('StartPadding', '30')",
                      L"AddDefaultData()");
    defaults.RunQuery(L"INSERT INTO 'Config' ('Key', 'Value') VALUES ('EndPadding', '0')",
                      L"AddDefaultData()");
  }

  // Number the passes 0, 1, 2, ... in the order the table returns them.
  SQLite passes;
  if (passes.RunQuery(L"SELECT ID FROM SeasonPasses", kCaller)) {
    for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
      SQLite update;
      update.RunQuery(tev::WFormat(L"UPDATE SeasonPasses SET Priority = %d WHERE ID = %d", i,
                                   passes.GetInt("ID")),
                      kCaller);
      passes.Next();
    }
  }

  LogDebug(L"SQLite::UpdateSchedulesFromVersion3: updating version");
  SQLite version;
  if (!version.RunQuery(L"UPDATE Config Set 'Value' = '6' WHERE key = 'Version'",
                        L"CreateTables()")) {
    return;
  }
  UpdateSchedulesFromVersion4();
}

void SQLite::UpdateSchedulesFromVersion4() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion4";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion4: updating Schedules and Tev passes tables ... ");
  Alter(L"ALTER TABLE Schedules ADD 'TevMediumId' varchar", kCaller, L"Schedules table updated",
        kNotUpdated);
  Alter(L"ALTER TABLE SeasonPasses ADD 'TevMediumId' varchar", kCaller,
        L"SeasonPasses table updated", L"SeasonPasses table NOT updated, already up to date");
  Config::SetString(L"Version", L"5");
  UpdateSchedulesFromVersion5();
}

void SQLite::UpdateSchedulesFromVersion5() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion5";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5: updating Schedules and Tev passes tables ... ");
  Alter(L"ALTER TABLE SeasonPasses ADD 'PauseStart' integer", kCaller,
        L"SeasonPasses table updated 1/2", kNotUpdated);
  Alter(L"ALTER TABLE SeasonPasses ADD 'PauseEnd' integer", kCaller,
        L"SeasonPasses table updated 2/2", kNotUpdated);
  Alter(L"ALTER TABLE Schedules ADD 'EpisodeUrl' varchar", kCaller, L"Schedules table updated 1/2",
        kNotUpdated);
  Alter(L"UPDATE Schedules SET EpisodeUrl=EpisodeTitle", kCaller, L"Schedules table updated 2/2",
        kNotUpdated);

  // Television passes keep their order and become 1, 2, 3, ...; every
  // other pass loses its priority.
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5:Tev passes priorities ... ");
  SQLite passes;
  if (!passes.RunQuery(tev::WFormat(L"SELECT %ls from SeasonPasses WHERE NOT %ls='video/x-tv'",
                                    L"ID", L"ChannelMimetype"),
                       L"GetWebPasses")) {
    return;
  }
  if (!passes.RunQuery(tev::WFormat(L"SELECT %ls, %ls, %ls from SeasonPasses ORDER BY %ls ASC",
                                    L"ID", L"Priority", L"ChannelMimetype", L"Priority"),
                       L"RemoveWebPassesPriority")) {
    return;
  }
  // The current row stayed 0 across the two statements (nothing walked
  // the first result), so the walk starts at the first ordered row.
  int32_t counter = 1;
  for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
    const int32_t id = passes.GetInt("ID");
    int32_t priority = 0;
    if (passes.GetString("ChannelMimetype").find(L"tv") != std::wstring::npos) {
      priority = counter++;
    }
    SQLite update;
    update.RunQuery(tev::WFormat(L"UPDATE SeasonPasses SET %ls = %d WHERE %ls = %d", L"Priority",
                                 priority, L"ID", id),
                    L"UpdatePriorities");
    SeasonPasses::AddPassToTevMedia(id, std::wstring(), std::wstring(), std::wstring());
    passes.Next();
  }
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5:Tev passes priorities updated!");

  if (!SeasonPasses::ChangeMediumIds()) return;
  if (!Schedules::ChangeMediumIds()) return;
  Config::SetString(L"Version", L"6");
  UpdateSchedulesFromVersion6();
}

void SQLite::UpdateSchedulesFromVersion6() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion6";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion6: updating Schedules tables ... ");
  Alter(L"ALTER TABLE Schedules ADD 'ThumbnailState' varchar", kCaller, L"Schedules table updated",
        kNotUpdated);
  Config::SetString(L"Version", L"7");
}
