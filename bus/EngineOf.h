// The engine behind a service handler's endpoint.
#ifndef TEV_BUS_ENGINEOF_H_
#define TEV_BUS_ENGINEOF_H_

#include "bus/CVelAtl.h"
#include "engine/Schedules.h"
#include "support/Log.h"

// The engine of the endpoint's module; null (ERROR logged with the service
// name) when the endpoint has no module, as in tests of the bare endpoint.
inline Schedules* EngineOf(CVelAtl* vel, const wchar_t* service) {
  Schedules* engine = vel->Engine();
  if (engine == nullptr) LogError(L"%ls: no engine", service);
  return engine;
}

#endif  // TEV_BUS_ENGINEOF_H_
