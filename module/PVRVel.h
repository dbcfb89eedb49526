// The aggregate that owns everything the module runs: the database, the bus
// endpoint, the recording engine, the season-pass checker and the stop
// event. Constructed and destroyed on the host's thread; its members in
// construction order.
#ifndef TEV_MODULE_PVRVEL_H_
#define TEV_MODULE_PVRVEL_H_

#include <cstdint>
#include <memory>
#include <string>

#include "bus/CVelAtl.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "engine/EngineHost.h"
#include "engine/Schedules.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "support/PEvent.h"
#include "support/PMutex.h"

class PThread;

class PVRVel : public EngineHost {
 public:
  PVRVel();
  ~PVRVel() override;

  // Opens the database, starts the engine's start-up thread and joins the
  // bus. False when the database cannot be opened or the bus not joined;
  // Shutdown then stops whatever was started.
  bool Initialize();
  // Stops everything in order; called once, on the host's thread.
  void Shutdown();
  // Polls the media library until it is ready (every 10 s, at most 30 min),
  // ended by the stop event. Called from the engine's start-up thread and
  // the season-pass checker.
  bool WaitForTevMedia() override;
  bool Stopping() override { return m_stopEvent.IsSet(); }
  bool FinishMediumIdUpgrade() override;

  SQLite& Database() { return m_db; }
  CVelAtl& Vel() { return m_vel; }
  PeerClient& Peers() { return m_vel.Peers(); }
  Schedules& GetSchedules() { return m_schedules; }
  SeasonPassChecker& Checker() { return m_checker; }
  PEvent& StopEvent() { return m_stopEvent; }

  // Medium id stored for a schedule / a pass, or "" when there is none.
  std::wstring GetScheduleMediumId(int localId);
  std::wstring GetPassMediumId(int localId);

  // The live PVRVel, or null. Set when it is created, cleared before it is
  // shut down.
  static PVRVel* Live();
  static void SetLive(PVRVel* pvr);

  PVRVel(const PVRVel&) = delete;
  PVRVel& operator=(const PVRVel&) = delete;

 private:
  int StartupTask(void* argument);

  // Made at Initialize, destroyed at Shutdown.
  std::unique_ptr<::Database> m_database;
  SQLite m_db;
  CVelAtl m_vel;
  Schedules m_schedules{m_vel.Peers(), this};
  SeasonPassChecker m_checker{m_schedules};
  SeasonPasses m_passes{m_schedules, m_checker};  // the engine's pass keeper
  PMutex m_mutex;
  PEvent m_stopEvent;
  PEvent m_busJoined;  // set once the bus is joined, or at shutdown
};

// Home of the database and the log: <appdata>/TevNetworks.
std::wstring TevNetworksFolder();

#endif  // TEV_MODULE_PVRVEL_H_
