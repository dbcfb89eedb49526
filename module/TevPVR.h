// The PVR module object: owns the one PVRVel while the module is live.
#ifndef TEV_MODULE_TEVPVR_H_
#define TEV_MODULE_TEVPVR_H_

#include <memory>
#include <string>

#include "module/TevModuleBase.h"

class PVRVel;

class TevPVR : public TevModuleBase {
 public:
  TevPVR();
  ~TevPVR() override;

  bool OnInitialize(const std::wstring& parameter) override;
  // Shuts the PVRVel down and destroys it; safe to call twice.
  void OnClose() override;

 private:
  std::unique_ptr<PVRVel> m_pvr;
};

#endif  // TEV_MODULE_TEVPVR_H_
