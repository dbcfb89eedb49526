#include "engine/MediaBatch.h"

#include <map>
#include <memory>

#include "db/Schedule.h"
#include "support/Log.h"
#include "support/VUtil.h"

void PublishSchedules(const std::vector<Schedule>& rows, bool flag) {
  std::vector<std::unique_ptr<AutoVariant>> lists;
  std::map<int32_t, std::wstring> passMediumIds;  // the batch's passes, each read once
  for (const Schedule& row : rows) {
    std::unique_ptr<AutoVariant> list(new AutoVariant());
    try {
      Schedule::AddMediumPrepare(row, &*list, &passMediumIds);
    } catch (const VelException& e) {
      LogError(L"PublishSchedules: %ls", e.getMessage().c_str());
      continue;
    }
    if (list->get().vt != VT_EMPTY) lists.push_back(std::move(list));
  }
  if (lists.empty()) return;
  AutoVariant array;
  VUtil::CreateArray(&array, VT_VARIANT, static_cast<long>(lists.size()));
  for (size_t i = 0; i < lists.size(); ++i) {
    VUtil::MoveElement(&array, static_cast<long>(i), &lists[i]->get());
  }
  Schedule::AddMedia(array.get(), flag);
}

void PublishBumped(const BumpedSet& bumped) {
  std::vector<Schedule> rows;
  for (const auto& entry : bumped) {
    Schedule row(entry.first);
    if (row.m_id != 0) rows.push_back(row);
  }
  PublishSchedules(rows, true);
}
