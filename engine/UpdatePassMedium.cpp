// The season-pass branch of the library's change callback. Until the pass
// edits are built, every change or deletion of a pass medium is refused, so
// that the library keeps showing what the database holds.
#include "engine/Schedules.h"
#include "support/Log.h"

int Schedules::UpdatePassMedium(int32_t action, int32_t passId, const VARIANT& pairs) {
  LogWarn(L"UpdateMedium: changes of season pass %d are not taken yet (action %d)", passId, action);
  return kResultChangeRefused;
}
