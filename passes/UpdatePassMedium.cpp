// The media library's change or deletion of a pass ("UpdateMedium" for a
// medium that is a pass). The first pair the pass accepts is applied and
// ends the call; read-only properties are refused with 403.
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "db/PassStore.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace {

const int kRefused = kResultChangeRefused;

// Whole decimal text (sign allowed); false for anything else.
bool Decimal(const std::wstring& text, int32_t* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  const long long parsed = std::wcstoll(text.c_str(), &end, 10);
  if (end == nullptr || *end != L'\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

// "UPDATE SeasonPasses SET <column> = <value> WHERE ID = <passId>".
bool SetValue(int32_t passId, const char* column, SqlValue value) {
  SQLite update;
  return PassStore::SetColumn(update, passId, column, std::move(value), L"UpdateMedium");
}

bool SetColumn(int32_t passId, const char* column, int32_t value) {
  return SetValue(passId, column, value);
}

// Hands the pair to the pass's pending schedules in the background.
void Propagate(PassWork& work, PeerClient& peers, LibrarySync& library, int32_t passId,
               const std::wstring& name, const std::wstring& value) {
  PassWork* owner = &work;
  PeerClient* through = &peers;
  LibrarySync* publisher = &library;
  work.StartJob(
      [owner, through, publisher, passId, name, value] {
        SeasonPasses::UpdateSchedulesFromPass(*owner, *through, *publisher, passId, name, value);
      },
      L"UpdateMedium");
}

}  // namespace

int SeasonPasses::MovePassPriority(int32_t passId, const std::wstring& value) {
  int32_t wanted = 0;
  if (!Decimal(value, &wanted) || wanted < 1) return kRefused;
  PMutexLock hold(checker_.Work().Mutex());
  const int32_t old = PassStore::Priority(passId);
  if (old < 1) return kRefused;  // a pass without priority has no place to move
  if (wanted == old) return 0;
  SQLite ranked;
  if (!ranked.RunQuery("SELECT Priority, ID from SeasonPasses WHERE Priority>0",
                       L"UpdateMedium Priority")) {
    return 0;
  }
  const bool clamped = ranked.GetRowCount() < wanted;
  if (clamped) wanted = ranked.GetRowCount();
  std::vector<int32_t> changed;
  Transaction transaction(engine_.EngineLock(), L"UpdateMedium Priority");
  if (!transaction.Active() || !SetColumn(passId, "Priority", wanted) ||
      !RenumberPriorities(old, wanted, passId, &changed) || !transaction.Commit()) {
    return kRefused;  // rolled back
  }
  RepublishPasses(changed);
  RefreshPass(passId, PassChange::kPriority);
  if (clamped) AddPassToTevMedia(passId, std::wstring(), std::wstring(), std::wstring());
  return 0;
}

int SeasonPasses::UpdatePassMedium(int32_t action, int32_t passId,
                                   const std::vector<MediumChange>& pairs, std::wstring* refusal) {
  SQLite pass;
  if (!pass.RunQuery("SELECT * FROM SeasonPasses WHERE ID=?", {passId}, L"UpdateMedium") ||
      pass.GetRowCount() != 1) {
    return 0;
  }
  if (action == 1) {
    RemoveSeasonPass(passId, true);
    return 0;
  }
  if (action != 0) return 0;
  const bool television = pass.GetString("ChannelMimetype").find(L"tv") != std::wstring::npos;
  for (const MediumChange& pair : pairs) {
    // Pairs before a hole stay applied, as with any refused pair.
    if (pair.hole) throw VelInvalidParameterException(L"Not an array of variant or string");
    const std::wstring& name = pair.name;
    const std::wstring& value = pair.value;
    // The pair that ends the call is the one a refusal names.
    if (refusal != nullptr) *refusal = name + L": the season pass does not take \"" + value + L"\"";
    const int common = MediumUpdates::CommonPairResult(name);
    if (common >= 0) return common;
    if (name == L"title") return 0;
    int32_t number = 0;
    bool refresh = true;
    if (name == L"startTime") {
      const int64_t start = GetTime2(value);
      if (start < 0) return kRefused;
      if (!SetValue(passId, "StartDate", SqlValue::TimeNumber(start))) return kRefused;
    } else if (name == L"duration") {
      if (!Decimal(value, &number) || number / 1000 <= 0) return kRefused;
      if (!SetColumn(passId, "Duration", number / 1000)) return kRefused;
    } else if (name == L"scheduleMode") {
      if (!SetColumn(passId, "ScheduleMode", ScheduleModeNumber(value))) {
        return kRefused;
      }
    } else if (name == L"restrictOneChannel") {
      if (!Decimal(value, &number) || number < 0 || number > 1) return kRefused;
      if (!SetColumn(passId, "RestrictToOneChannel", number)) return kRefused;
    } else if (name == L"searchTVGuide") {
      // Only television has a guide.
      if (!Decimal(value, &number) || number < 0 || number > 1 || (number == 1 && !television)) {
        return kRefused;
      }
      if (!SetColumn(passId, "GuideType", number)) return kRefused;
    } else if (name == L"keepUntil") {
      // An unknown name would reach the episodes as "until space needed".
      const int32_t code = Schedule::KeepUntilCodeFromName(value);
      if (Schedule::KeepUntilName(code) != value || !SetColumn(passId, "KeepUntil", code)) {
        return kRefused;
      }
      refresh = false;
    } else if (name == L"genre") {
      if (!SetValue(passId, "Category", value)) return kRefused;
      refresh = false;
    } else if (name == L"rating") {
      refresh = false;
    } else if (name == L"tags") {
      refresh = true;
    } else if (name == L"priority") {
      return MovePassPriority(passId, value);
    } else {
      continue;
    }
    if (refresh) {
      RefreshPass(passId, name == L"duration" ? PassChange::kLength : PassChange::kOther);
    } else {
      Propagate(checker_.Work(), checker_.Peers(), engine_.Library(), passId, name, value);
    }
    return 0;
  }
  return 0;
}
