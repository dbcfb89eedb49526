// The module's two entry points, exported under their plain names.
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "module/TevPVR.h"
#include "support/BBLog.h"
#include "support/Log.h"
#include "vel/VelSatellite.h"

#define TEV_EXPORT extern "C" __attribute__((visibility("default")))

TEV_EXPORT int Initialize(const wchar_t* parameter) {
  TevModuleBase* module = nullptr;
  try {
    module = new (std::nothrow) TevPVR();
  } catch (const std::logic_error&) {
    // A module is already live; the constructor has logged it. An exception
    // must not cross into the host, which is not C++.
    return 1;
  }
  if (!module) {
    LogError(L"TevModuleBase has no instance!");
    return 1;
  }
  LogDebug(L"TevModuleBase %ls Initialize(%ls)", module->Name().c_str(), parameter ? L"..." : L"");
  return module->OnInitialize(parameter ? std::wstring(parameter) : std::wstring()) ? 0 : 1;
}

TEV_EXPORT int Close() {
  TevModuleBase* module = Live().module.load();
  if (!module) return 0;
  LogDebug(L"TevModuleBase %ls close", module->Name().c_str());
  module->OnClose();
  delete module;
  // The host may unload the library next: no thread of libnats may be left
  // to call into it, and no descriptor of ours stays open (the engine's
  // timer went with the module).
  VelSatellite::ReleaseLibrary();
  return 0;
}

// Optional third entry point: a host calls it when its log files were
// moved away (SIGHUP after a rotation); the module opens them again.
TEV_EXPORT int ReopenLogs() {
  boost::shared_ptr<CBBLog> log = GetGlobalLogger();
  if (!log) return 1;
  log->ReopenFiles();
  LogInfo(L"TevModuleBase log files reopened");
  return 0;
}
