// The module loaded the way the host loads it: dlopen of libTevPVR.so, a
// real nats-server on loopback and a temporary data folder.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/common/Shell.h"
#include "vel/VelSatellite.h"

namespace fs = boost::filesystem;

namespace {

typedef int (*InitializeFn)(const wchar_t*);
typedef int (*CloseFn)();

// Listens for the module's broadcasts and answers the media library's
// readiness question.
class Listener : public tev::test::OfferingSatellite {
 public:
  Listener() {
    Offer(L"NotifyPVRRecordingChange", [this](const VARIANT& in, VARIANT*) {
      if ((in.vt & VT_ARRAY) && VUtil::GetArrayLength(in) == 0) ++emptyChanges;
      return 0;
    });
    Offer(L"IsReady", [this](const VARIANT&, VARIANT*) {
      ++readyPolls;
      return ready.load() ? 0 : 5;
    });
  }
  std::atomic<int> emptyChanges{0};
  std::atomic<int> readyPolls{0};
  std::atomic<bool> ready{false};
};

std::string ReadFile(const fs::path& path) { return tev::test::ReadFile(path.string()); }

// Asserts that the lines appear in `text` in this order.
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
    WriteRegistry(tev::ToStdUtf8(server_.HostPort()));
    handle_ = dlopen(TEV_BINARY_DIR "/libTevPVR.so", RTLD_NOW | RTLD_LOCAL);
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
  void WriteRegistry(const std::string& host) {
    std::ofstream ini((root_ / "etc/registry.ini").string());
    ini << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
        << "velDirectory.host=" << host << "\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n";
  }
  std::string ModuleLog() { return ReadFile(root_ / "appdata/TevNetworks/Logs/TevPVR.log"); }
  // Waits up to 10 s for `line` in the module's log.
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
  EXPECT_EQ(close_(), 0);  // nothing live any more

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
  library.ready = true;
  ASSERT_EQ(library.Connect(server_.HostPort(), L"TevMediaV2"), 0);
  ASSERT_EQ(initialize_(nullptr), 0);
  // The first poll is answered: start-up goes on without a poll interval.
  EXPECT_TRUE(Logged("TevMedia is ready, go on")) << ModuleLog();
  EXPECT_EQ(library.readyPolls.load(), 1);
  EXPECT_EQ(close_(), 0);
  library.Disconnect();
}

TEST_F(ModuleLifecycle, CloseLeavesNoThreadNorDescriptorOfTheBusLibrary) {
  // In a program that does not use libnats itself, as the host. (No media
  // library answers: start-up waits for it until Close.) The children take
  // the settings of this process.
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
  // A rotation moves the log away; SIGHUP makes the module open it anew and
  // the host goes on running.
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
