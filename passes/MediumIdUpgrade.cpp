// The second half of the version-5 upgrade: the medium ids of passes and
// schedules move to the media library once it is ready. The upgrade step in
// db/ only records the stage under "MediumIdUpgrade" ("passes", then
// "schedules"); this resumes from it at every start until it has gone through.
#include <string>

#include "db/Config.h"
#include "db/SQLite.h"
#include "engine/Schedules.h"
#include "passes/SeasonPasses.h"
#include "support/Log.h"

bool SeasonPasses::FinishMediumIdUpgrade() {
  const wchar_t kCaller[] = L"SQLite::FinishMediumIdUpgrade";
  std::wstring stage = Config::GetString(SQLite::kMediumIdUpgrade);
  if (stage.empty()) return true;
  LogInfo(L"%ls: migrating medium ids (%ls)", kCaller, stage.c_str());
  if (stage == L"passes") {
    SQLite passes;
    if (!passes.RunQuery("SELECT ID from SeasonPasses ORDER BY Priority ASC", kCaller)) return false;
    for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
      SeasonPasses::AddPassToTevMedia(passes.GetInt("ID"), std::wstring(), std::wstring(),
                                      std::wstring());
      passes.Next();
    }
    if (!SeasonPasses::ChangeMediumIds()) return false;
    stage = L"schedules";
    Config::SetString(SQLite::kMediumIdUpgrade, stage);
  }
  if (!engine_.Library().ChangeMediumIds()) return false;
  SQLite done;
  if (!done.RunQuery(SQLite::kDeleteStage, {SQLite::kMediumIdUpgrade}, kCaller)) {
    return false;
  }
  LogInfo(L"%ls: medium ids migrated", kCaller);
  return true;
}
