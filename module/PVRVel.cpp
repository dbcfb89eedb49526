#include "module/PVRVel.h"

#include <memory>

#include "db/LocalIds.h"
#include "dvr/DVR.h"
#include "module/TevModuleBase.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPasses.h"
#include "platform/Env.h"
#include "platform/Folders.h"
#include "support/Log.h"
#include "support/PThread.h"
#include "support/VUtil.h"

namespace {

const int kMediaPollMs = 10000;

const int kMediaWaitLimitMs = 1800000;

}  // namespace

void PVRVel::SetLive(PVRVel* pvr) {
  // The engine of a module that is no longer live sends nothing more.
  if (pvr != nullptr) pvr->m_schedules.SetPeersLive(true);
  PVRVel* previous = Live().pvr.exchange(pvr);
  if (previous != nullptr && previous != pvr) previous->m_schedules.SetPeersLive(false);
}

std::wstring TevNetworksFolder() {
  std::wstring appData;
  if (!tev::CommonAppDataFolder(&appData)) return std::wstring();
  return appData + L"/TevNetworks";
}

PVRVel::PVRVel()
    : m_vel(&m_schedules, &m_checker),
      // The engine owns the folders; both are called only once requests run.
      m_dvr(m_vel.Peers(),
            [this](bool video) {
              return video ? m_schedules.VideoDirectory() : m_schedules.AudioDirectory();
            },
            [this] { return m_stopEvent.IsSet(); }),
      m_mutex(false),
      m_stopEvent(false) {
  m_schedules.SetPassKeeper(&m_passes);
}

PVRVel::~PVRVel() { m_schedules.SetPassKeeper(nullptr); }

bool PVRVel::Initialize() {
  std::wstring folder = TevNetworksFolder() + L"/" + L"TevPVR";
  LogDebug(L"Initializing db");
  m_database.reset(new ::Database(folder));
  if (!m_database->Open()) {
    LogError(L"Database not initialized");
    return false;
  }
  // Before any request can arrive: rows up to here are the previous run's.
  m_schedules.Housekeeping().NotePreviousRun();
  m_checker.Start();
  m_startupThread.reset(new PThread(nullptr, this, &PVRVel::StartupTask, 0));
  LogDebug(L"Initializing vel");
  if (m_vel.RegisterWithBus() != 0) return false;
  m_busJoined.Set();
  return true;
}

int PVRVel::StartupTask(void*) {
  // The first readiness poll goes out once the bus is joined, not before
  // (it would fail as "not connected" and cost a whole poll interval).
  while (!m_busJoined.Wait(1000)) {
  }
  if (m_stopEvent.IsSet()) return 1;
  return m_schedules.Initialize() ? 0 : 1;
}

bool PVRVel::WaitForTevMedia() {
  int elapsed = 0;
  while (!m_stopEvent.IsSet() && elapsed <= kMediaWaitLimitMs) {
    if (m_vel.Peers().IsTevMediaReady() == 0) {
      LogDebug(L"TevMedia is ready, go on");
      break;
    }
    if (tev::Env::Current().WaitForEvent(m_stopEvent, kMediaPollMs)) return false;
    elapsed += kMediaPollMs;
  }
  return elapsed <= kMediaWaitLimitMs;
}

bool PVRVel::FinishMediumIdUpgrade() { return m_passes.FinishMediumIdUpgrade(); }

void PVRVel::Shutdown() {
  try {
    m_stopEvent.Set();
    m_busJoined.Set();  // ends the start-up thread's wait for the bus
    LogDebug(L"Send tray icon message that we are quitting");
    AutoVariant in, out, retcodes;
    VUtil::CreateArray(&in, VT_VARIANT, 0);
    m_vel.Request(L"ALL", L"NotifyPVRRecordingChange", in, &out, 0, &retcodes);
  } catch (const VelException& e) {
    LogError(L"Shutdown: %ls", e.getMessage().c_str());
  }
  m_schedules.Shutdown();
  m_checker.Stop();
  m_passWork.WaitForJobs();
  LogDebug(L"Shutdown db ");
  m_database.reset();
  LogDebug(L"Unregister vel");
  m_vel.UnregisterFromBus();
  if (m_startupThread) {
    m_startupThread->join(nullptr);
    m_startupThread.reset();
  }
  // A handler that ran until the bus let go may have started a job.
  m_passWork.WaitForJobs();
  LogDebug(L"PVRVel::Shutdown complete");
}

std::wstring PVRVel::GetScheduleMediumId(int localId) { return LocalIds::GetScheduleMediumId(localId); }

std::wstring PVRVel::GetPassMediumId(int localId) { return LocalIds::GetPassMediumId(localId); }
