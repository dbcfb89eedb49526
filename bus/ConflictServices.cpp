// The conflict report service of "ZoVIZ".
#include "bus/CVelAtl.h"
#include "bus/EngineAnswers.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VUtil.h"

// "GetConflicts": in slot 0 the medium id of a schedule; out slot 0 the
// list of the schedules it conflicts with. A malformed request leaves as
// VelInvalidParameterException.
int CVelAtl::GetConflicts(const std::wstring&, const VARIANT& in, VARIANT* out) {
  Schedules* engine = Engine();
  if (engine == nullptr) {
    LogError(L"GetConflicts %ls", L"no engine");
    return -1;
  }
  const std::wstring mediumId = VUtil::GetStringElement(in, 0);
  ScheduleAnswer answer;
  const int result = engine->Conflicts().GetConflicts(mediumId, &answer);
  if (answer.kind != ScheduleAnswer::Kind::kNothing) {
    AutoVariant list;
    PutScheduleAnswer(answer, &list.get());
    VUtil::CreateArray(out, VT_VARIANT, 1);
    VUtil::PutElement(out, 0, list.get());
  }
  return result;
}
