// What the engine needs of the season passes, which are built over it. The
// passes implement it and the module hands it to the engine
// (Schedules::SetPassKeeper); an engine without a keeper ignores a change
// of a pass medium (0) and its start-up sync republishes no pass.
#ifndef TEV_ENGINE_PASSKEEPER_H_
#define TEV_ENGINE_PASSKEEPER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Requests.h"

class PassKeeper {
 public:
  virtual ~PassKeeper() = default;
  // The season-pass branch of "UpdateMedium", under its contract: action 1
  // removes the pass (its recordings stay); action 0 applies the first pair
  // a pass takes ("startTime", "duration", "scheduleMode",
  // "restrictOneChannel", "searchTVGuide", "tags" refresh its episodes in
  // the background; "keepUntil", "genre", "rating" reach its pending
  // schedules; "priority" moves it) and ends the call; "title" ends it
  // unchanged. 0 also for a pass that does not exist.
  virtual int UpdatePassMedium(int32_t action, int32_t passId,
                               const std::vector<MediumChange>& changes,
                               std::wstring* refusal) = 0;
  // Publishes the pass ("AddMedium") and stores the medium id the library
  // answers.
  virtual void RepublishPass(int32_t passId) = 0;
};

#endif  // TEV_ENGINE_PASSKEEPER_H_
