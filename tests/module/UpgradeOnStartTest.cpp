// A version-2 database with rows, upgraded by the module the way the host
// runs it (dlopen, Initialize, Close) against a media library on a live
// loopback bus: the schema is at 7 after the first start, the medium ids are
// migrated once the library is ready, and what users changed afterwards
// survives three more starts.
#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/db/DbTestSupport.h"
#include "tests/db/MediaLibraryStandIn.h"

namespace {

namespace fs = std::filesystem;
typedef std::vector<std::vector<std::string>> Rows;

class UpgradeOnStart : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    fs::create_directories(root_ + "/etc");
    appData_.reset(new dbtest::ScopedEnv("TEV_APPDATA_DIR", root_ + "/appdata"));
    documents_.reset(new dbtest::ScopedEnv("TEV_DOCUMENTS_DIR", root_ + "/documents"));
    registry_.reset(new dbtest::ScopedEnv("TEV_REGISTRY_FILE", root_ + "/etc/registry.ini"));
    ASSERT_TRUE(server_.Start());
    std::ofstream(root_ + "/etc/registry.ini")
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host="
        << tev::ToStdUtf8(server_.HostPort())
        << "\n[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n";
    ASSERT_EQ(media_.Connect(server_.HostPort(), L"TevMediaV2"), 0);
    folder_ = root_ + "/appdata/TevNetworks/TevPVR";
    dbtest::MakeDatabase(folder_, 2);
    dbtest::RawDb db(folder_ + "/TevPVR.db");
    // Real files, so that nothing drops the rows as orphans.
    const std::string recorded = root_ + "/documents/Recorded TV";
    fs::create_directories(recorded);
    std::ofstream(recorded + "/one.wmv") << "x";
    const std::string rows[] = {
        "('DVRSTATE_COMPLETE', 'video/x-tv', '" + recorded + "/one.wmv', 'Episode one', "
        "20080304200000, 20080304210000)",
        "('DVRSTATE_SCHEDULED', 'video/x-tv', '" + recorded + "/two.wmv', 'Episode two', "
        "20300304200000, 20300304210000)",
    };
    for (const std::string& row : rows) {
      ASSERT_TRUE(db.Exec("INSERT INTO Schedules (Status, ChannelMimetype, FilePath, "
                          "EpisodeTitle, StartTime, EndTime) VALUES " + row));
    }
    ASSERT_TRUE(db.Exec("INSERT INTO SeasonPasses (ProgramName, ChannelMimetype, StartDate) VALUES "
                        "('News', 'video/x-tv', 20090315203000)"));
  }
  void TearDown() override { media_.Disconnect(); }

  // One load of the module: Initialize, wait until `done` holds, Close.
  void RunModule(const std::function<bool()>& done) {
    // This test program links libnats itself, so the bus library's threads outlive a Close and
    // may still run a connection callback: keep the module's code mapped across the restarts.
    void* handle = dlopen(TEV_BINARY_DIR "/libTevPVR.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto initialize = reinterpret_cast<int (*)(const wchar_t*)>(dlsym(handle, "Initialize"));
    auto close = reinterpret_cast<int (*)()>(dlsym(handle, "Close"));
    ASSERT_NE(initialize, nullptr);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(initialize(nullptr), 0);
    bool met = false;
    for (int i = 0; i < 600 && !(met = done()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(met);
    EXPECT_EQ(close(), 0);
    dlclose(handle);
  }
  std::string Value(const std::string& sql) {
    dbtest::RawDb db(folder_ + "/TevPVR.db");
    return db.Value(sql);
  }

  dbtest::TempDir dir_;
  std::string root_, folder_;
  std::unique_ptr<dbtest::ScopedEnv> appData_, documents_, registry_;
  tev::test::NatsServer server_;
  dbtest::MediaLibraryStandIn media_;
};

TEST_F(UpgradeOnStart, VersionTwoWithRowsReachesSevenMigratesIdsAndKeepsEditsAcrossRestarts) {
  RunModule([&] {
    return media_.Requests(L"ChangeMediaId").size() >= 3 &&
           Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'") == "0";
  });
  EXPECT_EQ(Value("SELECT Value FROM Config WHERE Key = 'Version'"), "7");
  dbtest::RawDb db(folder_ + "/TevPVR.db");
  EXPECT_EQ(db.Rows("SELECT EpisodeUrl, PlayPosition FROM Schedules ORDER BY ID"),
            (Rows{{"Episode one", "0"}, {"Episode two", "0"}}));
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'new-R%'"), "2");
  // The pass was published and migrated (the start-up sync may publish it
  // again afterwards, since the stand-in lists nothing).
  EXPECT_FALSE(db.Value("SELECT TevMediumId FROM SeasonPasses").empty());
  std::vector<std::wstring> keys;
  for (const auto& r : media_.Requests(L"ChangeMediaId")) {
    AutoVariant list;
    VUtil::GetElement(r.in->get(), 0, &list);
    keys.push_back(VUtil::GetStringElement(list.get(), 0));
  }
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"M1", L"R1", L"R2"}));
  const Rows ids = db.Rows("SELECT ID, TevMediumId FROM Schedules ORDER BY ID");

  // A user sets an episode address; three more starts keep it and migrate
  // nothing again.
  ASSERT_TRUE(db.Exec("UPDATE Schedules SET EpisodeUrl = 'http://example.org/two' WHERE ID = 2"));
  for (int restart = 0; restart < 3; ++restart) {
    const size_t ready = media_.Requests(L"IsReady").size();
    RunModule([&] { return media_.Requests(L"IsReady").size() > ready; });
    EXPECT_EQ(Value("SELECT EpisodeUrl FROM Schedules WHERE ID = 2"), "http://example.org/two")
        << restart;
    EXPECT_EQ(Value("SELECT Value FROM Config WHERE Key = 'Version'"), "7");
    EXPECT_EQ(Value("PRAGMA integrity_check"), "ok");
  }
  // No second migration (the start-up sync may republish what the stand-in
  // does not list, so pass ids are not compared).
  EXPECT_EQ(db.Rows("SELECT ID, TevMediumId FROM Schedules ORDER BY ID"), ids);
  EXPECT_EQ(db.Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'"), "0");
}

}  // namespace
