// Removing a pass and its pending schedules; refreshing a changed pass.
//
// Order of work: the library drops the pending schedules' media while their
// rows still exist (that is how it tells plans from recordings); then the
// table changes run as one transaction, rolled back when any statement
// fails; then the library hears about the kept recordings, the pass and
// the renumbered passes. The database stays authoritative: should the
// library miss a step, the start-up sync repairs it.
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/Transaction.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace {

// Rows of the pass that have run (kept) and that have not (removed).
// Episodes the user deleted are neither when the pass stays: their rows
// keep those airings from being added again.
struct PassRows {
  std::vector<Schedule> kept;
  std::vector<std::wstring> pendingIds;
  std::vector<int32_t> pendingRows;
};

bool HasRun(const std::wstring& status) {
  return status == DVRSTATE_COMPLETE || status == DVRSTATE_COMPLETE_PARTIAL ||
         status == DVRSTATE_RECORDING;
}

// `wanted`, when given: the rows of airings the pass still wants, which stay.
bool LoadPassRows(int32_t passId, bool keepDeleted, const std::set<int32_t>* wanted,
                  PassRows* rows) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE Owner = ?", {std::to_wstring(passId)},
                      L"RemoveSchedulesForPass")) {
    return false;
  }
  for (Schedule& row : Schedule::FromRows(query)) {
    if (HasRun(row.m_status)) {
      rows->kept.push_back(row);
    } else if ((!keepDeleted || row.m_status != DVRSTATE_DELETED) &&
               (wanted == nullptr || wanted->count(row.m_id) == 0)) {
      rows->pendingIds.push_back(row.m_tevMediumId);
      rows->pendingRows.push_back(row.m_id);
    }
  }
  return true;
}

bool Run(const std::string& statement, const std::vector<SqlValue>& values, const wchar_t* caller) {
  SQLite query;
  return query.RunQuery(statement, values, caller);
}

// The table side: kept rows lose the owner, pending rows go (the deleted
// ones too unless `keepDeleted`; only those of `only` when given).
bool DetachAndDelete(int32_t passId, bool keepDeleted, const std::vector<int32_t>* only = nullptr) {
  const std::wstring owner = std::to_wstring(passId);
  std::string remove = "DELETE FROM Schedules WHERE Owner = ? AND Status != ? AND Status != ? AND "
                       "Status != ?";
  std::vector<SqlValue> values = {owner, DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL,
                                  DVRSTATE_RECORDING};
  if (keepDeleted) {
    remove += " AND Status != ?";
    values.emplace_back(DVRSTATE_DELETED);
  }
  if (only != nullptr) {
    remove += " AND ID IN ";
    SQLite::AppendInList(&remove, &values, std::vector<SqlValue>(only->begin(), only->end()));
  }
  return Run("UPDATE Schedules SET Owner = '' WHERE Owner = ? AND (Status = ? OR Status = ? OR "
             "Status = ?)",
             {owner, DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RECORDING},
             L"RemovePassInfoForRecordings") &&
         Run(remove, values, L"SeasonPasses::RemoveSchedulesForPass");
}

// The library side for the kept recordings: no "tevPassId" any more, and
// republished without the owner.
void TellKept(PeerClient& peers, LibrarySync& library, std::vector<Schedule> kept) {
  if (kept.empty()) return;
  std::vector<std::wstring> ids;
  for (Schedule& row : kept) {
    ids.push_back(row.m_tevMediumId);
    row.m_owner.clear();
  }
  try {
    peers.SetMediaAttribute(ids, L"tevPassId", std::wstring());
  } catch (const VelException& e) {
    LogError(L"RemovePassInfoForRecordings %ls", e.getMessage().c_str());
  }
  library.PublishSchedules(kept, true);
}

void DropPending(PeerClient& peers, const std::vector<std::wstring>& pendingIds) {
  if (pendingIds.empty()) return;
  try {
    peers.DeleteMedia(pendingIds, true, false);
  } catch (const VelException& e) {
    LogError(L"RemoveSchedulesForPass %ls", e.getMessage().c_str());
  }
}

void Refresh(Schedules* engine, PassWork* work, PeerClient* peers, int32_t passId,
             SeasonPasses::PassChange change) {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  try {
    PMutexLock hold(work->Mutex());
    SeasonPassChecker checker(*engine, *work, *peers);
    // The episodes of airings the pass still wants stay as the user left
    // them (skipped, renamed, kept longer); only the others go.
    std::set<int32_t> wanted;
    AdmissionFlags survey;
    survey.matched = &wanted;
    if (checker.CheckForNewEpisodes(passId, nullptr, survey) == kPassGuideFailed) {
      LogWarn(L"SeasonPasses::RefreshPass: no listings for pass %d, its episodes stay", passId);
    } else {
      SeasonPasses passes(*engine, checker);
      passes.RemoveSchedulesForPass(passId, &wanted);
      if (change == SeasonPasses::PassChange::kLength) SeasonPasses::ApplyPassLength(passId);
      if (change == SeasonPasses::PassChange::kPriority) passes.RedecideEpisodes(passId);
      SeasonPasses::RepublishEpisodes(*peers, engine->Library(), passId);
    }
    checker.CheckForNewEpisodes();
  } catch (const VelException& e) {
    LogError(L"SeasonPasses::RefreshPass: %ls", e.getMessage().c_str());
  }
}

}  // namespace

void SeasonPasses::RemovePassInfoForRecordings(int32_t passId) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE Owner = ? AND (Status = ? OR Status = ? OR "
                      "Status = ?)",
                      {std::to_wstring(passId), DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL,
                       DVRSTATE_RECORDING},
                      L"RemovePassInfoForRecordings")) {
    return;
  }
  std::vector<Schedule> kept = Schedule::FromRows(query);
  for (const Schedule& row : kept) Schedule::Update(row.m_id, L"Owner", std::wstring());
  TellKept(checker_.Peers(), engine_.Library(), kept);
}

void SeasonPasses::RemoveSchedulesForPass(int32_t passId, const std::set<int32_t>* wanted) {
  PMutexLock hold(checker_.Work().Mutex());
  PassRows rows;
  if (!LoadPassRows(passId, true, wanted, &rows)) return;
  LogDebug(L"SeasonPasses::RemoveSchedulesForPass %d: %d pending", passId,
           static_cast<int32_t>(rows.pendingIds.size()));
  DropPending(checker_.Peers(), rows.pendingIds);
  Transaction transaction(engine_.EngineLock(), L"RemoveSchedulesForPass");
  if (!DetachAndDelete(passId, true, wanted != nullptr ? &rows.pendingRows : nullptr) ||
      !transaction.Commit()) {
    return;  // rolled back
  }
  TellKept(checker_.Peers(), engine_.Library(), rows.kept);
  engine_.Conflicts().UpdateConflicts(0, tev::Clock::Now());
}

bool SeasonPasses::RemoveSeasonPass(int32_t passId, bool deleteMedium) {
  PMutexLock hold(checker_.Work().Mutex());
  SQLite pass;
  if (!pass.RunQuery("SELECT * FROM SeasonPasses WHERE ID = ?", {passId}, L"RemoveSeasonPass") ||
      pass.GetRowCount() != 1) {
    LogError(L"SeasonPasses::RemoveSeasonPass: no pass %d", passId);
    return false;
  }
  const int32_t priority = pass.GetInt("Priority");
  const std::wstring mediumId = pass.GetString("TevMediumId");
  PassRows rows;
  if (!LoadPassRows(passId, false, nullptr, &rows)) return false;
  DropPending(checker_.Peers(), rows.pendingIds);

  std::vector<int32_t> renumbered;
  Transaction transaction(engine_.EngineLock(), L"RemoveSeasonPass");
  if (!transaction.Active()) return false;
  const bool ok =
      DetachAndDelete(passId, false) &&
      (priority <= 0 || RenumberPriorities(priority, 0, passId, &renumbered)) &&
      Run("DELETE FROM SeasonPasses WHERE ID = ?", {passId},
          L"SeasonPasses::RemoveSeasonPass");
  if (!ok || !transaction.Commit()) return false;  // rolled back

  TellKept(checker_.Peers(), engine_.Library(), rows.kept);
  if (deleteMedium && !mediumId.empty()) checker_.Peers().DeleteMedium(mediumId, true, true);
  RepublishPasses(renumbered);
  engine_.Conflicts().UpdateConflicts(0, tev::Clock::Now());
  return true;
}

void SeasonPasses::RefreshPass(int32_t passId, PassChange change) {
  // The job outlives this object (a service's), not the engine, the work
  // and the peers.
  Schedules* engine = &engine_;
  PassWork* work = &checker_.Work();
  PeerClient* peers = &checker_.Peers();
  work->StartJob(
      [engine, work, peers, passId, change] { Refresh(engine, work, peers, passId, change); },
      L"SeasonPasses::RefreshPass");
}
