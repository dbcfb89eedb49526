// The priority order of television passes: 1, 2, 3, ... without gaps, 1
// the highest; passes of other mimetypes have 0 and take no part.
#include <vector>

#include "db/EpisodeMarks.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "engine/BumpedSet.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

bool SetPriority(int32_t passId, int32_t priority, const wchar_t* caller) {
  SQLite update;
  return update.RunQuery("UPDATE SeasonPasses SET Priority = ? WHERE ID = ?", {priority, passId},
                         caller);
}

}  // namespace

int32_t SeasonPasses::GetLowestPriority() {
  SQLite query;
  if (!query.RunQuery("SELECT Priority from SeasonPasses WHERE Priority>0", L"GetPriority")) {
    return 1;
  }
  return query.GetRowCount() + 1;
}

bool SeasonPasses::MakeRoomAtTop(std::vector<int32_t>* moved) {
  SQLite query;
  if (!query.RunQuery("SELECT ID, Priority from SeasonPasses WHERE Priority>0",
                      L"GetHighestPriority")) {
    return false;
  }
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    if (!SetPriority(id, query.GetInt("Priority") + 1, L"GetHighestPriority")) return false;
    moved->push_back(id);
  }
  return true;
}

int32_t SeasonPasses::GetHighestPriority() {
  std::vector<int32_t> moved;
  MakeRoomAtTop(&moved);
  RepublishPasses(moved);
  return 1;
}

bool SeasonPasses::RenumberPriorities(int32_t oldPriority, int32_t newPriority, int32_t passId,
                                      std::vector<int32_t>* changed) {
  SQLite query;
  if (!query.RunQuery("SELECT ID, Priority from SeasonPasses WHERE (Priority>0)",
                      L"UpdatePriorities")) {
    return false;
  }
  if (newPriority < 0 || newPriority > query.GetRowCount()) return false;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    const int32_t priority = query.GetInt("Priority");
    if (id == passId) continue;
    int32_t moved = priority;
    if (newPriority == 0) {
      if (priority > oldPriority) moved = priority - 1;
    } else if (oldPriority < newPriority) {
      if (priority >= oldPriority && priority <= newPriority) moved = priority - 1;
    } else if (newPriority < oldPriority) {
      if (priority >= newPriority && priority <= oldPriority) moved = priority + 1;
    }
    if (moved == priority) continue;
    if (!SetPriority(id, moved, L"UpdatePriorities")) return false;
    changed->push_back(id);
  }
  return true;
}

bool SeasonPasses::UpdatePriorities(int32_t oldPriority, int32_t newPriority, int32_t passId) {
  std::vector<int32_t> changed;
  const bool done = RenumberPriorities(oldPriority, newPriority, passId, &changed);
  RepublishPasses(changed);
  return done;
}

void SeasonPasses::RepublishPasses(const std::vector<int32_t>& passIds) {
  for (int32_t id : passIds) AddPassToTevMedia(id, std::wstring(), std::wstring(), std::wstring());
}

void SeasonPasses::RedecideEpisodes(int32_t passId) {
  PMutexLock hold(checker_.Work().Mutex());
  SQLite query;
  if (!query.RunQuery("SELECT * FROM SeasonPasses WHERE ID = ?", {passId}, L"RedecideEpisodes") ||
      query.GetRowCount() != 1) {
    return;
  }
  const PassRow pass = PassRow::FromQuery(query);
  if (pass.priority < 1) return;
  SQLite episodes;
  if (!episodes.RunQuery(std::string("SELECT * FROM Schedules WHERE Owner = ? AND (Status = ? "
                                     "OR Status = ? OR Status = ?) AND ") +
                             EpisodeMarks::kNotSkippedByUser,
                         {std::to_wstring(passId), DVRSTATE_SCHEDULED, DVRSTATE_CONFLICT,
                          DVRSTATE_SKIP},
                         L"RedecideEpisodes")) {
    return;
  }
  const int64_t now = tev::Clock::Now();
  BumpedSet bumped;
  // Out of the way first, so that the airings the pass no longer outranks
  // go to the passes that now do; then what it still outranks is taken
  // back, as a new episode of the pass would take it.
  std::vector<Schedule> rows = Schedule::FromRows(episodes);
  for (Schedule& row : rows) {
    if (row.m_status == DVRSTATE_SCHEDULED &&
        SetScheduleStatus(engine_.Library(), row, DVRSTATE_CONFLICT, now,
                          StatusReason::kConflictCheck)) {
      bumped[row.m_id] = kBumpedChanged;
    }
  }
  engine_.Conflicts().UpdateConflicts(0, now);
  for (const Schedule& row : rows) {
    Schedule current(row.m_id);
    if (current.m_id == 0 || current.m_status != DVRSTATE_SCHEDULED) continue;
    const int checked = engine_.Conflicts().CheckForScheduleConflicts(
        std::wstring(), std::wstring(), current.m_channelMimetype, current.m_startTime,
        current.m_duration, nullptr, current.m_id, pass.priority, true,
        current.m_channelName == pass.channelName, pass.channelName, false, false, bumped, now);
    if (checked == kPassConflicts &&
        SetScheduleStatus(engine_.Library(), current, DVRSTATE_CONFLICT, now,
                          StatusReason::kConflictCheck)) {
      bumped[current.m_id] = kBumpedChanged;
    }
  }
  SeasonPassChecker::PublishEpisodes(checker_.Peers(), engine_.Library(), pass, bumped);
}
