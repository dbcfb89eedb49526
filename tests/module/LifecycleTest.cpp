// The module loaded the way the host loads it, on a loopback nats-server.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "module/PVRVel.h"
#include "peers/Peers.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/common/Shell.h"
#include "tests/db/DbTestSupport.h"

namespace fs = boost::filesystem;

namespace {

typedef int (*InitializeFn)(const wchar_t*);
typedef int (*CloseFn)();

// Not ready (5) until poll `readyAtPoll` (-1: never).
class Listener : public tev::test::OfferingSatellite {
 public:
  Listener() {
    Offer(L"NotifyPVRRecordingChange", [this](const VARIANT& in, VARIANT*) {
      if ((in.vt & VT_ARRAY) && VUtil::GetArrayLength(in) == 0) ++emptyChanges;
      return 0;
    });
    Offer(L"IsReady", [this](const VARIANT&, VARIANT*) {
      const int n = ++polls;
      return (readyAtPoll >= 0 && n >= readyAtPoll) ? 0 : 5;
    });
  }
  std::atomic<int> emptyChanges{0};
  std::atomic<int> polls{0};
  std::atomic<int> readyAtPoll{-1};
};

std::string ReadFile(const fs::path& path) { return tev::test::ReadFile(path.string()); }

void ExpectInOrder(const std::string& text, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
    at = found + line.size();
  }
}

class ModuleLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / fs::unique_path("tevpvr-module-%%%%%%");
    fs::create_directories(root_ / "etc");
    setenv("TEV_APPDATA_DIR", (root_ / "appdata").c_str(), 1);
    setenv("TEV_DOCUMENTS_DIR", (root_ / "documents").c_str(), 1);
    setenv("TEV_REGISTRY_FILE", (root_ / "etc/registry.ini").c_str(), 1);
    ASSERT_TRUE(server_.Start());
    std::ofstream((root_ / "etc/registry.ini").string())
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
        << "velDirectory.host=" << tev::ToStdUtf8(server_.HostPort()) << "\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n";
    // libnats' threads here outlive a Close: the module's code stays mapped.
    handle_ = dlopen(TEV_BINARY_DIR "/libTevPVR.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(handle_, nullptr) << dlerror();
    initialize_ = reinterpret_cast<InitializeFn>(dlsym(handle_, "Initialize"));
    close_ = reinterpret_cast<CloseFn>(dlsym(handle_, "Close"));
    ASSERT_NE(initialize_, nullptr);
    ASSERT_NE(close_, nullptr);
  }
  void TearDown() override {
    if (close_) close_();
    if (handle_) dlclose(handle_);
    fs::remove_all(root_);
  }
  std::string ModuleLog() { return ReadFile(root_ / "appdata/TevNetworks/Logs/TevPVR.log"); }
  bool Logged(const std::string& line) {
    for (int i = 0; i < 200; ++i) {
      if (ModuleLog().find(line) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  fs::path root_;
  tev::test::NatsServer server_;
  void* handle_ = nullptr;
  InitializeFn initialize_ = nullptr;
  CloseFn close_ = nullptr;
};

TEST_F(ModuleLifecycle, StartsJoinsTheBusAndShutsDownInOrder) {
  Listener listener;
  ASSERT_EQ(listener.Connect(server_.HostPort(), L"TrayStandIn"), 0);

  ASSERT_EQ(initialize_(nullptr), 0);
  EXPECT_TRUE(fs::exists(root_ / "appdata/TevNetworks/TevPVR/TevPVR.db"));
  // A second module in the same process is refused and the first stays.
  EXPECT_EQ(initialize_(L"again"), 1);
  EXPECT_EQ(close_(), 0);
  EXPECT_EQ(close_(), 0);

  for (int i = 0; i < 100 && listener.emptyChanges.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(listener.emptyChanges.load(), 1);

  ExpectInOrder(ModuleLog(), {
      "[DEBUG] - TevModuleBase TevPVR\n",
      "TevModuleBase TevPVR Initialize()\n",  // absent parameter: empty text
      "Initializing db", "Initializing vel",
      "[ERROR] - TevModuleBase TevPVR trying to create multiple instances",
      "TevModuleBase TevPVR close", "Shutting down PVR...",
      "Send tray icon message that we are quitting", "Shutdown db \n", "Unregister vel",
      "PVRVel::Shutdown complete", "~TevModuleBase TevPVR"});
}

TEST_F(ModuleLifecycle, FailsWithoutABusAndStillClosesCleanly) {
  server_.Stop();
  ASSERT_EQ(initialize_(L"param"), 1);
  EXPECT_EQ(close_(), 0);
  ExpectInOrder(ModuleLog(), {"TevModuleBase TevPVR Initialize(...)", "Initializing vel",
                              "[ERROR] - Vel Registration returned ", ", exiting",
                              "PVRVel::Shutdown complete"});
}

TEST_F(ModuleLifecycle, RefusesToStartOnADamagedDatabase) {
  fs::path db = root_ / "appdata/TevNetworks/TevPVR/TevPVR.db";
  fs::create_directories(db.parent_path());
  const std::string garbage(4096, 'x');
  { std::ofstream(db.string(), std::ios::binary) << garbage; }
  EXPECT_EQ(initialize_(nullptr), 1);
  EXPECT_EQ(close_(), 0);
  EXPECT_EQ(ReadFile(db), garbage);  // nothing overwritten
  std::string log = ModuleLog();
  EXPECT_NE(log.find("[ERROR] - Database not initialized"), std::string::npos) << log;
  EXPECT_EQ(log.find("Initializing vel"), std::string::npos);
}

TEST_F(ModuleLifecycle, AsksTheMediaLibraryAsSoonAsTheBusIsJoined) {
  Listener library;
  library.readyAtPoll = 1;
  ASSERT_EQ(library.Connect(server_.HostPort(), L"TevMediaV2"), 0);
  ASSERT_EQ(initialize_(nullptr), 0);
  // The first poll is answered: no poll interval passes.
  EXPECT_TRUE(Logged("TevMedia is ready, go on")) << ModuleLog();
  EXPECT_EQ(library.polls.load(), 1);
  EXPECT_EQ(close_(), 0);
  library.Disconnect();
}

TEST_F(ModuleLifecycle, WaitForTevMediaPollsUntilReadyStopOrTheLimit) {
  Listener media;
  ASSERT_EQ(media.Connect(server_.HostPort(), L"TevMediaV2"), 0);
  PVRVel pvr;
  ASSERT_EQ(pvr.Vel().RegisterWithBus(), 0);
  tev::test::FakeEnv env;
  env.SetInstantSleep(true);

  // 181 polls: 30 minutes and 10 seconds of budget.
  EXPECT_FALSE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 181);
  EXPECT_EQ(env.ShiftSeconds(), 181 * 10);

  media.polls = 0;
  media.readyAtPoll = 3;
  EXPECT_TRUE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 3);

  // A stop already set ends the wait at once.
  media.polls = 0;
  media.readyAtPoll = -1;
  pvr.StopEvent().Set();
  EXPECT_TRUE(pvr.WaitForTevMedia());
  EXPECT_EQ(media.polls.load(), 0);
  pvr.Vel().UnregisterFromBus();
  media.Disconnect();
}

TEST_F(ModuleLifecycle, VersionTwoWithRowsReachesSevenMigratesIdsAndKeepsEditsAcrossRestarts) {
  tev::peers::MediaLibraryPeer media;
  ASSERT_EQ(media.Join(server_.HostPort()), 0);
  const std::string folder = (root_ / "appdata/TevNetworks/TevPVR").string();
  dbtest::MakeDatabase(folder, 2);
  dbtest::RawDb db(folder + "/TevPVR.db");
  // Real files, so that nothing drops the rows as orphans.
  const std::string recorded = (root_ / "documents/Recorded TV").string();
  fs::create_directories(recorded);
  std::ofstream(recorded + "/one.wmv") << "x";
  for (const std::string& row :
       {"('DVRSTATE_COMPLETE', 'video/x-tv', '" + recorded + "/one.wmv', 'Episode one', "
        "20080304200000, 20080304210000)",
        "('DVRSTATE_SCHEDULED', 'video/x-tv', '" + recorded + "/two.wmv', 'Episode two', "
        "20300304200000, 20300304210000)"}) {
    ASSERT_TRUE(db.Exec("INSERT INTO Schedules (Status, ChannelMimetype, FilePath, "
                        "EpisodeTitle, StartTime, EndTime) VALUES " + row));
  }
  ASSERT_TRUE(
      db.Exec("INSERT INTO SeasonPasses (ProgramName, ChannelMimetype, StartDate) VALUES "
              "('News', 'video/x-tv', 20090315203000)"));
  auto run = [&](const std::function<bool()>& done) {
    EXPECT_EQ(initialize_(nullptr), 0);
    bool met = false;
    for (int i = 0; i < 600 && !(met = done()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(met);
    EXPECT_EQ(close_(), 0);
  };

  run([&] {
    return media.CountOf(L"ChangeMediaId") >= 3 &&
           db.Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'") == "0";
  });
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'M%'"), "2");
  const auto ids = db.Rows("SELECT ID, TevMediumId FROM Schedules ORDER BY ID");

  ASSERT_TRUE(db.Exec("UPDATE Schedules SET EpisodeUrl = 'http://example.org/two' WHERE ID = 2"));
  for (int restart = 0; restart < 3; ++restart) {
    const size_t ready = media.CountOf(L"IsReady");
    run([&] { return media.CountOf(L"IsReady") > ready; });
    EXPECT_EQ(db.Value("SELECT EpisodeUrl FROM Schedules WHERE ID = 2"), "http://example.org/two")
        << restart;
    EXPECT_EQ(db.Value("PRAGMA integrity_check"), "ok");
  }
  // No second migration (pass ids may be republished).
  EXPECT_EQ(db.Rows("SELECT ID, TevMediumId FROM Schedules ORDER BY ID"), ids);
  media.Leave();
}

TEST_F(ModuleLifecycle, CloseLeavesNoThreadNorDescriptorOfTheBusLibrary) {
  // In a program that does not link libnats, as the host.
  tev::test::ChildProgram cycle;
  ASSERT_TRUE(cycle.Start({TEV_MODULE_CYCLE, TEV_BINARY_DIR "/libTevPVR.so", "3"},
                          (root_ / "cycle.log").string()));
  EXPECT_EQ(cycle.WaitExit(60000), 0) << ReadFile(root_ / "cycle.log");
}

TEST_F(ModuleLifecycle, TheHostRunsTheModuleUntilSigintAndExitsZero) {
  tev::test::ChildProgram host;
  ASSERT_TRUE(host.Start({TEV_BINARY_DIR "/host/tevpvr-host", TEV_BINARY_DIR "/libTevPVR.so"},
                         (root_ / "host.log").string()));
  EXPECT_TRUE(Logged("Initializing vel"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // A rotation moves the log away; SIGHUP makes the module open it anew.
  const fs::path log = root_ / "appdata/TevNetworks/Logs/TevPVR.log";
  fs::rename(log, log.string() + ".1");
  kill(host.pid(), SIGHUP);
  EXPECT_TRUE(Logged("log files reopened"));
  EXPECT_TRUE(host.Running()) << "the host ended on SIGHUP";
  const int status = host.Stop(SIGINT, 10000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_NE(ModuleLog().find("PVRVel::Shutdown complete"), std::string::npos);
}

}  // namespace
