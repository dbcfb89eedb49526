// Base of a loadable module: owns the module's log and the bus library's
// log, and enforces one live module per process.
#ifndef TEV_MODULE_TEVMODULEBASE_H_
#define TEV_MODULE_TEVMODULEBASE_H_

#include <atomic>
#include <string>

#include <boost/shared_ptr.hpp>

class CBBLog;
class PVRVel;

class TevModuleBase {
 public:
  // Throws std::logic_error when a live module already exists.
  explicit TevModuleBase(const std::wstring& name);
  virtual ~TevModuleBase();

  virtual bool OnInitialize(const std::wstring& parameter) = 0;
  virtual void OnClose() = 0;
  // There is no window-message queue on this platform: returns 0 at once,
  // the value the message loop ends with.
  virtual int RunMessageLoop();
  virtual void OnIdle();

  const std::wstring& Name() const { return m_name; }

  TevModuleBase(const TevModuleBase&) = delete;
  TevModuleBase& operator=(const TevModuleBase&) = delete;

 protected:
  std::wstring m_name;
  boost::shared_ptr<CBBLog> m_log;
  boost::shared_ptr<CBBLog> m_velLog;
};

// Process-wide because the host's exported entry points carry no handle:
// the one live module they drive, and its PVRVel (the engine of one that is
// no longer live sends nothing more).
struct LiveModule {
  std::atomic<TevModuleBase*> module{nullptr};
  std::atomic<PVRVel*> pvr{nullptr};
};
LiveModule& Live();

#endif  // TEV_MODULE_TEVMODULEBASE_H_
