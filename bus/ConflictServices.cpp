// The conflict report service of "ZoVIZ".
#include "bus/CVelAtl.h"
#include "engine/Schedules.h"
#include "support/Log.h"

// "GetConflicts": in slot 0 the medium id of a schedule; out slot 0 the
// list of the schedules it conflicts with. A malformed request leaves as
// VelInvalidParameterException.
int CVelAtl::GetConflicts(const std::wstring& method, const VARIANT& in, VARIANT* out) {
  Schedules* engine = Engine();
  if (engine == nullptr) {
    LogError(L"GetConflicts %ls", L"no engine");
    return -1;
  }
  return engine->GetConflicts(in, out);
}
