// The start-up reconciliation between the database and the media library.
// The database is authoritative: library media of this source that match
// no row or pass are deleted there, rows and passes the library lacks are
// published again, and a row whose state the library shows wrongly is
// republished.
//
// Runs once on the engine's start-up thread. The rows are read a page at a
// time (id, medium id and state only) and matched in memory with the passes,
// so the run costs a few statements and one request per repaired medium,
// not statements per library medium; missing rows are published a hundred
// per request.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "engine/LibrarySync.h"
#include "engine/MediaBatch.h"
#include "engine/PassKeeper.h"
#include "engine/Schedules.h"
#include "monitor/SchedulePages.h"
#include "outbound/PeerClient.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

const wchar_t kCaller[] = L"SyncWithTevMedia";
// Rows read per statement.
constexpr int32_t kRowsPerPage = 5000;

struct RowState {
  int32_t id;
  std::wstring mediumId;
  std::wstring status;
};

// The rows ids[first, last) names, in one statement.
std::vector<Schedule> LoadRows(const std::vector<int32_t>& ids, size_t first, size_t last) {
  return Schedule::LoadMany(std::vector<int32_t>(ids.begin() + first, ids.begin() + last), kCaller);
}

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

// One medium as "GetMediaFromSource" lists it.
struct LibraryMedium {
  std::wstring id;
  std::wstring pvrState;
  std::wstring mediaType;
};

// The library's media of the source "PVR". False (logged) when the request
// failed; a reply that is not a list gives no media.
bool GetMediaFromSource(PeerClient* vel, std::vector<LibraryMedium>* media) {
  if (vel == nullptr) throw VelException(L"no bus endpoint");
  LogDebug(L"GetMediaFromSource");
  std::vector<std::vector<std::wstring>> records;
  const long result = vel->GetMediaFromSource(L"TevMediaV2", {L"pvrState", L"mediaType"},
                                              {2, 3, 4}, 0, false, &records);
  if (result != 0) {
    LogDebug(L"GetMediaFromSource vel request: %x", static_cast<unsigned>(result));
    return false;
  }
  media->reserve(records.size());
  for (const std::vector<std::wstring>& record : records) {
    media->push_back({record[0], record[1], record[2]});
  }
  return true;
}

// The largest ID of `table`; false (ERROR logged) when it cannot be read.
bool LargestId(const wchar_t* table, int32_t* id) {
  SQLite query;
  if (!query.RunQuery("SELECT MAX(ID) AS Last FROM " + tev::WideToUtf8(table), kCaller)) {
    LogError(L"SyncWithTevMedia: could not read the %ls table; the sync is stopped", table);
    return false;
  }
  *id = query.GetRowCount() > 0 ? query.GetInt("Last") : 0;
  return true;
}

}  // namespace

void LibrarySync::SyncWithTevMedia(PassKeeper* keeper) {
  // Rows and passes made after this point are published by whoever made
  // them; the sync neither deletes their media nor publishes them again.
  int32_t lastRow = 0;
  int32_t lastPass = 0;
  if (!LargestId(L"Schedules", &lastRow) || !LargestId(L"SeasonPasses", &lastPass)) return;

  PeerClient* vel = Peers();
  std::vector<LibraryMedium> media;
  try {
    if (!GetMediaFromSource(vel, &media)) return;
  } catch (const VelException& e) {
    // A refused or unreadable listing: nothing is deleted, and what the
    // library may lack is offered again.
    LogDebug(L"SyncWithTevMedia: %ls", e.getMessage().c_str());
    media.clear();
  }
  if (vel == nullptr) return;

  // The tables are read once the library has answered, so that what was
  // made while it took its time is compared as it is now. Only what
  // matching needs is held per row: a table of years holds a hundred
  // thousand rows, and whole rows of all of them would take hundreds of
  // megabytes.
  std::vector<RowState> rows;
  const bool read = monitorpages::ForEachRow(
      "ID, TevMediumId, Status", "1", {}, kRowsPerPage, kCaller, [&rows](SQLite& row) {
        rows.push_back({row.GetInt("ID"), row.GetString("TevMediumId"), row.GetString("Status")});
        return true;
      });
  if (!read) {
    LogError(L"SyncWithTevMedia: could not read the schedules; the sync is stopped");
    return;
  }
  SQLite passQuery;
  if (!passQuery.RunQuery("SELECT ID, TevMediumId FROM SeasonPasses ORDER BY ID", kCaller)) {
    // Read as no passes at all, every pass medium would be deleted.
    LogError(L"SyncWithTevMedia: could not read the season passes; the sync is stopped");
    return;
  }
  // Medium id -> the first row holding it (any state), as the id lookups
  // of the module resolve it.
  std::map<std::wstring, size_t> rowOf;
  for (size_t i = 0; i < rows.size(); ++i) rowOf.emplace(rows[i].mediumId, i);
  std::map<std::wstring, int32_t> passOf;
  std::vector<std::pair<int32_t, std::wstring>> passes;
  for (int32_t i = 0; i < passQuery.GetRowCount(); ++i, passQuery.Next()) {
    passes.emplace_back(passQuery.GetInt("ID"), passQuery.GetString("TevMediumId"));
    passOf.emplace(passes.back().second, passes.back().first);
  }

  std::set<std::wstring> seen;
  std::set<std::wstring> orphans;
  for (const LibraryMedium& medium : media) {
    if (Contains(medium.mediaType, L"deleted")) continue;
    auto pass = passOf.find(medium.id);
    auto row = pass == passOf.end() ? rowOf.find(medium.id) : rowOf.end();
    if (!medium.id.empty()) {
      const bool passType = tev::StartsWith(medium.mediaType, L"schedulePass");
      const bool found = passType ? pass != passOf.end() : rowOf.count(medium.id) > 0;
      if (!found) {
        // Deleted by identifier even when a row of the other kind holds
        // it: a local id would name an unrelated item of this kind.
        orphans.insert(medium.id);
        continue;
      }
    }
    if (row != rowOf.end()) {
      const RowState& held = rows[row->second];
      const std::wstring state = Schedule::ExternalStateName(held.status);
      if (state != medium.pvrState) {
        const Schedule schedule(held.id);
        if (schedule.m_id != 0) AddMedium(schedule, true);
        LogDebug(L"Inconsistency found for %d, pvrState is %ls, %ls in TevMedia", held.id,
                 state.c_str(), medium.pvrState.c_str());
      }
    }
    seen.insert(medium.id);
  }
  media.clear();
  media.shrink_to_fit();
  // Every orphan alike, schedule or pass, in one request.
  vel->DeleteMedia(orphans, false, false);

  std::vector<int32_t> missing;
  for (const RowState& row : rows) {
    if (row.id > lastRow || row.status == DVRSTATE_DELETED ||
        Schedule::ExternalStateName(row.status).empty()) {
      continue;
    }
    auto held = seen.find(row.mediumId);
    if (held != seen.end()) {
      seen.erase(held);
      continue;
    }
    LogInfo(L"Adding %ls to TevMedia, it was missing", row.mediumId.c_str());
    missing.push_back(row.id);
  }
  rows.clear();
  rows.shrink_to_fit();
  // A few requests, each well inside the bus's payload limit.
  for (size_t first = 0; first < missing.size(); first += kRecordsPerPublication) {
    const size_t last = std::min(missing.size(), first + kRecordsPerPublication);
    PublishSchedules(LoadRows(missing, first, last), true);
  }

  for (const auto& pass : passes) {
    if (pass.first > lastPass) continue;
    auto held = seen.find(pass.second);
    if (held != seen.end()) {
      seen.erase(held);
      continue;
    }
    LogInfo(L"Adding Tev Pass %ls to TevMedia, it was missing", pass.second.c_str());
    if (keeper != nullptr) keeper->RepublishPass(pass.first);
  }
  LogDebug(L"Sync with TevMedia Done");
}
