#include "module/TevModuleBase.h"

#include <stdexcept>

#include "support/BBLog.h"
#include "support/Log.h"
#include "vel/VelSatellite.h"

LiveModule& Live() {
  static LiveModule live;
  return live;
}

TevModuleBase::TevModuleBase(const std::wstring& name) : m_name(name) {
  TevModuleBase* expected = nullptr;
  if (!Live().module.compare_exchange_strong(expected, this)) {
    LogError(L"TevModuleBase %ls trying to create multiple instances", m_name.c_str());
    throw std::logic_error("Can't have more than one instance of TevModuleBase per module!");
  }
  m_log.reset(new CBBLog(m_name + L".log", false, 0, 0));
  SetGlobalLogger(m_log);
  m_velLog = VelSatellite::initLogger();
  LogDebug(L"TevModuleBase %ls", m_name.c_str());
}

TevModuleBase::~TevModuleBase() {
  TevModuleBase* self = this;
  Live().module.compare_exchange_strong(self, nullptr);
  LogDebug(L"~TevModuleBase %ls", m_name.c_str());
  // The global weak pointer would otherwise hold the log's count block past unload.
  SetGlobalLogger(boost::shared_ptr<CBBLog>());
  m_velLog.reset();
  m_log.reset();
}

int TevModuleBase::RunMessageLoop() { return 0; }

void TevModuleBase::OnIdle() {}
