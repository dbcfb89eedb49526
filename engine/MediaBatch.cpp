#include "engine/MediaBatch.h"

#include <map>
#include <utility>

#include "db/Schedule.h"
#include "support/Log.h"
#include "support/VelException.h"

void RunPending(std::function<void()>* step) {
  if (step == nullptr || !*step) return;
  std::function<void()> run = std::move(*step);
  *step = nullptr;
  run();
}

void PublishSchedules(const std::vector<Schedule>& rows, bool flag,
                      std::function<void()>* meanwhile, bool justLoaded) {
  std::vector<MediumProperties> lists;
  lists.reserve(rows.size());
  std::map<int32_t, std::wstring> passMediumIds;  // the batch's passes, each read once
  for (const Schedule& row : rows) {
    MediumProperties list;
    try {
      Schedule::AddMediumPrepare(row, &list, &passMediumIds, justLoaded);
    } catch (const VelException& e) {
      LogError(L"PublishSchedules: %ls", e.getMessage().c_str());
      continue;
    }
    lists.push_back(std::move(list));
  }
  if (lists.empty()) {
    RunPending(meanwhile);
    return;
  }
  Schedule::AddMediaTaking(&lists, flag, meanwhile);
}

std::vector<Schedule> LoadBumped(const BumpedSet& bumped, const wchar_t* caller) {
  std::vector<int32_t> ids;
  for (const auto& entry : bumped) ids.push_back(entry.first);
  return Schedule::LoadMany(ids, caller);
}

void PublishBumped(const BumpedSet& bumped) {
  PublishSchedules(LoadBumped(bumped, L"PublishBumped"), true, nullptr, true);
}
