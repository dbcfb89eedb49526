#include "engine/MediaBatch.h"

#include <map>
#include <memory>

#include "db/Schedule.h"
#include "support/Log.h"
#include "support/VUtil.h"

void RunPending(std::function<void()>* step) {
  if (step == nullptr || !*step) return;
  std::function<void()> run = std::move(*step);
  *step = nullptr;
  run();
}

void PublishSchedules(const std::vector<Schedule>& rows, bool flag,
                      std::function<void()>* meanwhile, bool justLoaded) {
  std::vector<std::unique_ptr<AutoVariant>> lists;
  std::map<int32_t, std::wstring> passMediumIds;  // the batch's passes, each read once
  for (const Schedule& row : rows) {
    std::unique_ptr<AutoVariant> list(new AutoVariant());
    try {
      Schedule::AddMediumPrepare(row, &*list, &passMediumIds, justLoaded);
    } catch (const VelException& e) {
      LogError(L"PublishSchedules: %ls", e.getMessage().c_str());
      continue;
    }
    if (list->get().vt != VT_EMPTY) lists.push_back(std::move(list));
  }
  if (lists.empty()) {
    RunPending(meanwhile);
    return;
  }
  AutoVariant array;
  VUtil::CreateArray(&array, VT_VARIANT, static_cast<long>(lists.size()));
  for (size_t i = 0; i < lists.size(); ++i) {
    VUtil::MoveElement(&array, static_cast<long>(i), &lists[i]->get());
  }
  Schedule::AddMediaTaking(&array.get(), flag, meanwhile);
}

std::vector<Schedule> LoadBumped(const BumpedSet& bumped, const wchar_t* caller) {
  std::vector<int32_t> ids;
  for (const auto& entry : bumped) ids.push_back(entry.first);
  return Schedule::LoadMany(ids, caller);
}

void PublishBumped(const BumpedSet& bumped) {
  PublishSchedules(LoadBumped(bumped, L"PublishBumped"), true, nullptr, true);
}
