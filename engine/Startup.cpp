#include "engine/Schedules.h"

#include "module/PVRVel.h"

bool Schedules::Initialize() {
  PVRVel* pvr = PVRVel::Live();
  if (!pvr || !pvr->WaitForTevMedia()) return false;
  InitializeSettings();
  return true;
}

void Schedules::Shutdown() { m_running = false; }
