#include "engine/Schedules.h"

#include "module/PVRVel.h"

bool Schedules::Initialize() {
  PVRVel* pvr = PVRVel::Live();
  return pvr && pvr->WaitForTevMedia();
}

void Schedules::Shutdown() { m_running = false; }
