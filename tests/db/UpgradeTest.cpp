// Upgrades without a bus; the medium ids are UpgradeBusTest.cpp's.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "db/TimeUtils.h"
#include "passes/SeasonPasses.h"
#include "tests/common/FakePeers.h"
#include "tests/common/PassObjects.h"
#include "tests/common/Shell.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

namespace {

typedef std::vector<std::vector<std::string>> Rows;

// The steps append columns, so the order differs from a new file's.
std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

class UpgradeTest : public dbtest::DbFixture {
 protected:
  void Make(int version) {
    dbtest::MakeDatabase(folder_, version);
    db_.reset(new RawDb(dbPath_));
  }
  void AddSchedule(const std::string& status, const std::string& title, int64_t end) {
    std::string columns = "Status, Name, FilePath, ChannelMimetype, EpisodeTitle, StartTime, EndTime";
    ASSERT_TRUE(db_->Exec("INSERT INTO Schedules (" + columns + ") VALUES ('" + status + "', 'n', '/r/" +
                          title + "', 'video/x-tv', '" + title + "', " +
                          tev::ToStdUtf8(FormatTime3(end - 3600)) + ", " + tev::ToStdUtf8(FormatTime3(end)) + ")"));
  }
  void AddPass(const std::string& program, const std::string& mimetype, const std::string& priority) {
    // A version-2 file has no priority column.
    const std::string column = priority.empty() ? "" : ", Priority";
    const std::string value = priority.empty() ? "" : ", " + priority;
    ASSERT_TRUE(db_->Exec("INSERT INTO SeasonPasses (ProgramName, ChannelMimetype, StartDate" + column +
                          ") VALUES ('" + program + "', '" + mimetype + "', 20090315203000" + value + ")"));
  }
  std::string Version() { return db_->Value("SELECT Value FROM Config WHERE Key = 'Version'"); }

  // Made at first use, over the test's database.
  tev::test::PassObjects& Objects() {
    if (!objects_) objects_.reset(new tev::test::PassObjects(peers_, false));
    return *objects_;
  }

  std::unique_ptr<RawDb> db_;
  testpeers::FakePeers peers_;
  std::unique_ptr<tev::test::PassObjects> objects_;
};

TEST_F(UpgradeTest, EmptyFilesOfEveryVersionEndAtSevenWithAllColumns) {
  for (int version = 2; version <= 7; ++version) {
    database_.reset();
    std::filesystem::remove_all(folder_);
    Make(version);
    log_->Clear();
    ASSERT_TRUE(OpenDatabase()) << version;
    EXPECT_EQ(Version(), "7") << version;
    EXPECT_EQ(Sorted(db_->Columns("Schedules")), Sorted(dbtest::ColumnNames(dbtest::SchedulesColumns())))
        << version;
    EXPECT_EQ(Sorted(db_->Columns("SeasonPasses")), Sorted(dbtest::ColumnNames(dbtest::SeasonPassesColumns())))
        << version;
    if (version < 7) {
      EXPECT_TRUE(log_->Has(LOG_INFO, L"Updating database from version " + std::to_wstring(version)));
    } else {
      EXPECT_FALSE(log_->HasPart(LOG_INFO, L"Updating database"));
    }
    EXPECT_EQ(db_->Value("SELECT count(*) FROM Config WHERE Key = 'StartPadding' AND Value = '30'"), "1");
    EXPECT_EQ(db_->Value("SELECT count(*) FROM Config WHERE Key = 'EndPadding' AND Value = '0'"), "1");
    EXPECT_EQ(db_->Value("PRAGMA integrity_check"), "ok");
  }
}

TEST_F(UpgradeTest, VersionTwoWithRowsEndsAtSevenAndKeepsALaterPriority) {
  Make(2);
  const int64_t now = tev::Clock::Now();
  AddSchedule("DVRSTATE_COMPLETE", "done", now - 7200);
  AddSchedule("DVRSTATE_SCHEDULED", "it''s next", now + 7200);
  AddSchedule("DVRSTATE_DELETED", "old deleted", now - 7200);      // purged by step 3
  AddSchedule("DVRSTATE_CONFLICT", "old conflict", now - 7200);    // purged by step 3
  AddSchedule("DVRSTATE_CONFLICT", "new conflict", now + 7200);
  AddPass("tv one", "video/x-tv", "");
  AddPass("web", "video/x-webwin", "");
  AddPass("tv two", "video/x-tv", "");

  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(Version(), "7");
  EXPECT_EQ(db_->Rows("SELECT EpisodeTitle, PlayPosition, EpisodeUrl FROM Schedules ORDER BY ID"),
            (Rows{{"done", "0", "done"}, {"it's next", "0", "it's next"}, {"new conflict", "0", "new conflict"}}));
  // Numbered 0, 1, 2 by step 3; step 5 gives television passes 1, 2, the web 0.
  EXPECT_EQ(db_->Rows("SELECT ProgramName, Priority FROM SeasonPasses ORDER BY ID"),
            (Rows{{"tv one", "1"}, {"web", "0"}, {"tv two", "2"}}));
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"no bus endpoint"));
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");

  // A priority changed after the upgrade survives a later start.
  ASSERT_TRUE(db_->Exec("UPDATE SeasonPasses SET Priority = 9 WHERE ProgramName = 'web'"));
  database_.reset();
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(db_->Value("SELECT Priority FROM SeasonPasses WHERE ProgramName = 'web'"), "9");
}

TEST_F(UpgradeTest, VersionFiveRenumbersByPriorityOrder) {
  Make(5);
  AddPass("tv c", "video/x-tv", "3");
  AddPass("web", "audio/x-webwin", "1");
  AddPass("tv a", "video/x-tv", "0");
  AddPass("webcam", "video/x-inputdevice", "2");
  AddPass("tv b", "video/x-tvsomething", "2");
  ASSERT_TRUE(OpenDatabase());
  // By old priority, ties in table order; "tv" anywhere in the mimetype counts.
  EXPECT_EQ(db_->Rows("SELECT ProgramName, Priority FROM SeasonPasses ORDER BY ID"),
            (Rows{{"tv c", "3"}, {"web", "0"}, {"tv a", "1"}, {"webcam", "0"}, {"tv b", "2"}}));
  EXPECT_EQ(Version(), "7");
  // Without a bus the migration offers each pass and stays to do.
  EXPECT_EQ(log_->Count(LOG_ERROR, L"Schedule::AddMedium: no bus endpoint"), 0);
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(log_->Count(LOG_ERROR, L"Schedule::AddMedium: no bus endpoint"), 5);
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");
}

TEST_F(UpgradeTest, UnknownVersionTextsRunNoStep) {
  Make(7);
  for (const char* text : {"8", "", "six", " 6"}) {
    database_.reset();
    ASSERT_TRUE(db_->Exec(std::string("UPDATE Config SET Value = '") + text + "' WHERE Key = 'Version'"));
    log_->Clear();
    ASSERT_TRUE(OpenDatabase());
    EXPECT_FALSE(log_->HasPart(LOG_INFO, L"Updating database")) << text;
  }
}

TEST_F(UpgradeTest, FailureAtEveryStatementLeavesAWholeResumableFile) {
  // Statements 0..n-1 succeed, every later one fails.
  const int64_t now = tev::Clock::Now();
  std::string pristine;
  {
    Make(2);
    AddSchedule("DVRSTATE_COMPLETE", "a", now - 100);
    AddSchedule("DVRSTATE_SCHEDULED", "b", now + 100);
    AddPass("tv", "video/x-tv", "");
    db_.reset();
    pristine = tev::test::ReadFile(dbPath_);
  }
  const std::set<std::string> versions = {"2", "3", "4", "5", "6", "7"};
  bool sawCleanRun = false;
  for (int n = 0; n < 200 && !sawCleanRun; ++n) {
    database_.reset(new Database(WFolder()));
    dbtest::WriteBytes(dbPath_, pristine);
    database_->FailStatementsAfter(n);
    log_->Clear();
    EXPECT_TRUE(database_->Open()) << n;
    sawCleanRun = !log_->HasPart(LOG_ERROR, L"injected fault");
    database_->FailStatementsAfter(-1);
    database_->Close();
    {
      RawDb db(dbPath_);
      EXPECT_EQ(db.Value("PRAGMA integrity_check"), "ok") << n;
      EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules"), "2") << n;
      EXPECT_EQ(db.Value("SELECT count(*) FROM SeasonPasses"), "1") << n;
      EXPECT_EQ(versions.count(db.Value("SELECT Value FROM Config WHERE Key = 'Version'")), 1u) << n;
    }
    // Every step's rewrite ran once.
    ASSERT_TRUE(OpenDatabase()) << n;
    RawDb db(dbPath_);
    EXPECT_EQ(db.Value("SELECT Value FROM Config WHERE Key = 'Version'"), "7") << n;
    EXPECT_EQ(db.Rows("SELECT EpisodeTitle, PlayPosition, EpisodeUrl FROM Schedules ORDER BY ID"),
              (Rows{{"a", "0", "a"}, {"b", "0", "b"}}))
        << n;
    EXPECT_EQ(db.Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes") << n;
  }
  EXPECT_TRUE(sawCleanRun);
}
