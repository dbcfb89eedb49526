#include "module/TevPVR.h"

#include "bus/CVelAtl.h"
#include "module/PVRVel.h"
#include "support/Log.h"

TevPVR::TevPVR() : TevModuleBase(L"TevPVR") {}

TevPVR::~TevPVR() { OnClose(); }

bool TevPVR::OnInitialize(const std::wstring& parameter) {
  m_pvr.reset(new PVRVel());
  PVRVel::SetLive(m_pvr.get());
  return m_pvr->Initialize();
}

void TevPVR::OnClose() {
  if (!m_pvr) return;
  LogDebug(L"Shutting down PVR...");
  PVRVel::SetLive(nullptr);
  std::unique_ptr<PVRVel> pvr(std::move(m_pvr));
  pvr->Shutdown();
}
