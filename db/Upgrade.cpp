// The upgrade chain of older database files, versions 2 to 6. Each step
// hands over to the next by calling it, so an upgrade from version N runs
// every later step:
//
//   2 writes "3" -> 3 writes "4" -> 4 writes "5" -> 5 writes "6" -> 6 writes "7"
//
// Every step runs inside one transaction with the "Version" text it writes,
// so a step is either done and never runs again, or not done at all; a data
// rewrite (PlayPosition, EpisodeUrl from EpisodeTitle, priorities) runs only
// in the step that adds its column. The schema is finished at open. The
// version-5 medium-id migration needs the media library on the bus: the
// step only records it under "MediumIdUpgrade" ("passes", then
// "schedules"), and FinishMediumIdUpgrade runs it once the library is ready,
// again at every start until it has gone through.
#include <string>

#include "db/Config.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "platform/Clock.h"
#include "support/Log.h"

namespace {

const wchar_t kNotUpdated[] = L"Schedules table NOT updated, already up to date";

// Runs an ALTER on a fresh query object and logs which way it went.
void Alter(const char* statement, const wchar_t* caller, const wchar_t* updated,
           const wchar_t* notUpdated) {
  SQLite query;
  if (query.RunQuery(statement, caller)) {
    LogDebug(L"%ls", updated);
  } else {
    LogDebug(L"%ls", notUpdated);
  }
}

// One step's statements and its version text as one transaction. A failed
// ALTER inside it only undoes itself.
class StepTransaction {
 public:
  explicit StepTransaction(const wchar_t* caller) : caller_(caller) {
    SQLite begin;
    open_ = begin.RunQuery("BEGIN IMMEDIATE", caller_);
  }
  ~StepTransaction() {
    if (open_) {
      SQLite rollback;
      rollback.RunQuery("ROLLBACK", caller_);
    }
  }
  // Writes `version` and commits; false when either failed (nothing kept).
  bool Commit(const wchar_t* version) {
    SQLite write;
    if (!write.RunQuery("UPDATE Config SET Value = ? WHERE Key = 'Version'", {version}, caller_)) {
      return false;
    }
    if (!open_) return true;
    SQLite commit;
    if (!commit.RunQuery("COMMIT", caller_)) return false;
    open_ = false;
    return true;
  }

 private:
  const wchar_t* caller_;
  bool open_ = false;
};

}  // namespace

void SQLite::UpdateSchedulesFromVersion2() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion2";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion2: updating Schedules table ... ");
  StepTransaction step(kCaller);
  if (!RunQuery("ALTER TABLE Schedules ADD 'PlayPosition' integer", kCaller)) {
    LogDebug(kNotUpdated);
  } else {
    LogDebug(L"Schedules table updated");
    if (!RunQuery("UPDATE Schedules SET 'PlayPosition' = 0", kCaller)) return;
  }
  if (!step.Commit(L"3")) return;
  UpdateSchedulesFromVersion3();
}

void SQLite::UpdateSchedulesFromVersion3() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion3";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion3: updating Schedules table ... ");
  StepTransaction step(kCaller);
  Schedule::Delete(tev::Clock::Now());
  const char* const kAlters[] = {
      "ALTER TABLE SeasonPasses ADD 'User' varchar",
      "ALTER TABLE SeasonPasses ADD 'Priority' integer",
      "ALTER TABLE SeasonPasses ADD 'StartPadding' integer",
      "ALTER TABLE SeasonPasses ADD 'EndPadding' integer",
      "ALTER TABLE Schedules ADD 'StartPadding' integer",
      "ALTER TABLE Schedules ADD 'EndPadding' integer",
  };
  for (const char* statement : kAlters) {
    Alter(statement, kCaller, L"Schedules table updated", kNotUpdated);
  }
  {
    SQLite defaults;
    defaults.RunQuery("INSERT INTO 'Config' ('Key', 'Value') VALUES ('StartPadding', '30')",
                      L"AddDefaultData()");
    defaults.RunQuery("INSERT INTO 'Config' ('Key', 'Value') VALUES ('EndPadding', '0')",
                      L"AddDefaultData()");
  }

  // Number the passes 0, 1, 2, ... in the order the table returns them.
  SQLite passes;
  if (passes.RunQuery("SELECT ID FROM SeasonPasses", kCaller)) {
    for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
      SQLite update;
      update.RunQuery("UPDATE SeasonPasses SET Priority = ? WHERE ID = ?", {i, passes.GetInt("ID")},
                      kCaller);
      passes.Next();
    }
  }

  LogDebug(L"SQLite::UpdateSchedulesFromVersion3: updating version");
  if (!step.Commit(L"4")) return;
  UpdateSchedulesFromVersion4();
}

void SQLite::UpdateSchedulesFromVersion4() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion4";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion4: updating Schedules and Tev passes tables ... ");
  StepTransaction step(kCaller);
  Alter("ALTER TABLE Schedules ADD 'TevMediumId' varchar", kCaller, L"Schedules table updated",
        kNotUpdated);
  Alter("ALTER TABLE SeasonPasses ADD 'TevMediumId' varchar", kCaller,
        L"SeasonPasses table updated", L"SeasonPasses table NOT updated, already up to date");
  if (!step.Commit(L"5")) return;
  UpdateSchedulesFromVersion5();
}

void SQLite::UpdateSchedulesFromVersion5() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion5";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5: updating Schedules and Tev passes tables ... ");
  StepTransaction step(kCaller);
  Alter("ALTER TABLE SeasonPasses ADD 'PauseStart' integer", kCaller,
        L"SeasonPasses table updated 1/2", kNotUpdated);
  Alter("ALTER TABLE SeasonPasses ADD 'PauseEnd' integer", kCaller,
        L"SeasonPasses table updated 2/2", kNotUpdated);
  // The episode address starts as the episode title only where the column
  // is new: a later copy would overwrite addresses set since.
  SQLite addColumn;
  if (addColumn.RunQuery("ALTER TABLE Schedules ADD 'EpisodeUrl' varchar", kCaller)) {
    LogDebug(L"Schedules table updated 1/2");
    SQLite copy;
    if (!copy.RunQuery("UPDATE Schedules SET EpisodeUrl=EpisodeTitle", kCaller)) return;
    LogDebug(L"Schedules table updated 2/2");
  } else {
    LogDebug(kNotUpdated);
  }

  // Television passes keep their order and become 1, 2, 3, ...; every
  // other pass loses its priority.
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5:Tev passes priorities ... ");
  SQLite passes;
  if (!passes.RunQuery("SELECT ID, Priority, ChannelMimetype from SeasonPasses ORDER BY Priority ASC",
                       L"RemoveWebPassesPriority")) {
    return;
  }
  int32_t counter = 1;
  for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
    const int32_t id = passes.GetInt("ID");
    int32_t priority = 0;
    if (passes.GetString("ChannelMimetype").find(L"tv") != std::wstring::npos) {
      priority = counter++;
    }
    SQLite update;
    if (!update.RunQuery("UPDATE SeasonPasses SET Priority = ? WHERE ID = ?", {priority, id},
                         L"UpdatePriorities")) {
      return;
    }
    passes.Next();
  }
  LogDebug(L"SQLite::UpdateSchedulesFromVersion5:Tev passes priorities updated!");

  // Medium ids wait for the media library (FinishMediumIdUpgrade).
  SQLite clear, pending;
  if (!clear.RunQuery(kDeleteStage, {kMediumIdUpgrade}, kCaller) ||
      !pending.RunQuery("INSERT INTO Config (Key, Value) VALUES (?, 'passes')", {kMediumIdUpgrade},
                        kCaller)) {
    return;
  }
  if (!step.Commit(L"6")) return;
  UpdateSchedulesFromVersion6();
}

void SQLite::UpdateSchedulesFromVersion6() {
  const wchar_t kCaller[] = L"UpdateSchedulesFromVersion6";
  LogDebug(L"SQLite::UpdateSchedulesFromVersion6: updating Schedules tables ... ");
  StepTransaction step(kCaller);
  Alter("ALTER TABLE Schedules ADD 'ThumbnailState' varchar", kCaller, L"Schedules table updated",
        kNotUpdated);
  step.Commit(L"7");
}
