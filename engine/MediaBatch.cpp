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

std::vector<Schedule> LoadBumped(const BumpedSet& bumped, const wchar_t* caller) {
  std::vector<int32_t> ids;
  for (const auto& entry : bumped) ids.push_back(entry.first);
  return Schedule::LoadMany(ids, caller);
}
