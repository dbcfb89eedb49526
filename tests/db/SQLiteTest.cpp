#include "db/SQLite.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "db/TimeUtils.h"
#include "support/VelException.h"
#include "tests/common/Shell.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

class SQLiteTest : public dbtest::DbFixture {};

// Where the folder is: ModuleLifecycle.StartsJoinsTheBusAndShutsDownInOrder.
TEST_F(SQLiteTest, AnAppDataFolderThatCannotBeMadeIsRefused) {
  dbtest::WriteBytes(dir_.path() + "/file", "x");
  dbtest::ScopedEnv bad("TEV_APPDATA_DIR", dir_.path() + "/file/below");
  try {
    SQLite::DatabaseFolder();
    ADD_FAILURE() << "no exception";
  } catch (const VelException& e) {
    EXPECT_EQ(e.getMessage(), L"Coudln't get App Data folder");
  }
}

TEST_F(SQLiteTest, GettersReadByNameAndReportWhatIsMissing) {
  OpenNew();
  SQLite write;
  ASSERT_TRUE(write.RunQuery(
      "INSERT INTO Schedules (Name, Duration, KeepUntil, StartTime, Owner) VALUES "
      "('first', '12abc', NULL, 20090315203000, 'x')",
      L"t"));
  ASSERT_TRUE(write.RunQuery("INSERT INTO Schedules (Name, Duration) VALUES ('second', -7)", L"t"));

  SQLite q;
  ASSERT_TRUE(q.RunQuery("SELECT * FROM Schedules ORDER BY ID", L"t"));
  ASSERT_EQ(q.GetRowCount(), 2);
  log_->Clear();
  EXPECT_EQ(q.GetString("Name"), L"first");
  EXPECT_EQ(q.GetInt("Duration"), 12);     // atoi: leading digits
  EXPECT_EQ(q.GetInt("KeepUntil"), 0);     // NULL
  EXPECT_EQ(q.GetInt("Owner"), 0);         // no digits
  EXPECT_EQ(q.GetString("Tuner"), L"");    // NULL
  EXPECT_EQ(q.GetTime("StartTime"), GetTime3(L"20090315203000"));
  EXPECT_TRUE(log_->Lines().empty()) << tev::ToStdUtf8(log_->Dump());

  EXPECT_EQ(q.GetInt("NoSuchColumn"), -1);
  EXPECT_EQ(q.GetString("name"), L"");  // names are case-sensitive
  env_.Shift(1000);
  EXPECT_EQ(q.GetTime("NoSuchColumn"), tev::Clock::Now());

  EXPECT_TRUE(q.Next());
  EXPECT_EQ(q.GetString("Name"), L"second");
  EXPECT_EQ(q.GetInt("Duration"), -7);
  EXPECT_TRUE(q.Next());
  EXPECT_EQ(q.GetInt("ID"), -1);

  SQLite none;
  ASSERT_TRUE(none.RunQuery("SELECT * FROM Schedules WHERE ID = 99", L"t"));
  EXPECT_EQ(none.GetRowCount(), 0);
  log_->Clear();
  EXPECT_EQ(none.GetString("Name"), L"");
  EXPECT_EQ(none.GetInt("Name"), -1);
  EXPECT_EQ(log_->Count(LOG_ERROR, L"FindIndex: Index out of bounds (Name)"), 2);
}

TEST_F(SQLiteTest, FailedStatementIsLoggedWithCallerAndLeavesNoResult) {
  OpenNew();
  SQLite q;
  ASSERT_TRUE(q.RunQuery("SELECT * FROM Config", L"t"));
  ASSERT_EQ(q.GetRowCount(), 4);
  log_->Clear();
  EXPECT_FALSE(q.RunQuery("SELECT x FROM Nowhere", L"My::Operation"));
  auto lines = log_->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, LOG_ERROR);
  EXPECT_EQ(lines[0].text, L"SQL error in My::Operation: no such table: Nowhere");
  EXPECT_EQ(lines[1].text, L"SELECT x FROM Nowhere");
  EXPECT_EQ(q.GetRowCount(), 0);
  EXPECT_EQ(q.GetColumnCount(), 0);

  // Statement text with printf-looking characters is logged verbatim.
  log_->Clear();
  EXPECT_FALSE(q.RunQuery("SELEC %s %d %ls", L"c"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SELEC %s %d %ls"));

  // Without a folder nothing is opened anywhere.
  database_.reset();
  log_->Clear();
  EXPECT_FALSE(q.RunQuery("SELECT 1", L"t"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Can't open database: no database folder\n"));
}

TEST_F(SQLiteTest, NonDatabaseOrDamagedFileIsRefusedAndLeftAsItWas) {
  std::filesystem::create_directories(folder_);
  std::string page(4096, '\0');
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7 + 3);
  // A valid database whose page 2 is overwritten with garbage.
  dbtest::TempDir other;
  {
    RawDb db(other.path() + "/good.db");
    db.Exec("PRAGMA page_size=4096");
    db.Exec("CREATE TABLE t (a, b)");
    db.Exec("CREATE INDEX ti ON t(a)");
    for (int i = 0; i < 200; ++i) db.Exec("INSERT INTO t VALUES (" + std::to_string(i) + ", hex(randomblob(100)))");
  }
  std::string damaged = tev::test::ReadFile(other.path() + "/good.db");
  ASSERT_GT(damaged.size(), 3 * page.size());
  damaged.replace(page.size(), page.size(), page);

  struct Case {
    const char* what;
    std::string bytes;
    const wchar_t* error;
  };
  const Case cases[] = {
      {"text", "this is not a database, just some text\n", L"file is not a database"},
      {"header only", std::string("SQLite format 3\0", 16) + std::string(200, 'x'), nullptr},
      {"damaged pages", damaged, nullptr},
  };
  for (const Case& c : cases) {
    database_.reset();
    dbtest::WriteBytes(dbPath_, c.bytes);
    log_->Clear();
    EXPECT_FALSE(OpenDatabase()) << c.what;
    EXPECT_EQ(tev::test::ReadFile(dbPath_), c.bytes) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dbPath_ + "-journal")) << c.what;
    auto lines = log_->Lines();
    ASSERT_FALSE(lines.empty()) << c.what;
    EXPECT_EQ(lines[0].level, LOG_ERROR);
    EXPECT_EQ(lines[0].text.rfind(L"Can't open database: ", 0), 0u) << c.what;
    EXPECT_EQ(lines[0].text.back(), L'\n');
    if (c.error != nullptr) {
      EXPECT_EQ(lines[0].text, std::wstring(L"Can't open database: ") + c.error + L"\n");
    }
    // Later statements try to open again.
    SQLite q;
    EXPECT_FALSE(q.RunQuery("SELECT * FROM Config", L"t"));
    EXPECT_EQ(tev::test::ReadFile(dbPath_), c.bytes) << c.what;
  }

  // A folder in place of the file.
  database_.reset();
  std::filesystem::remove(dbPath_);
  std::filesystem::create_directory(dbPath_);
  EXPECT_FALSE(OpenDatabase());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Can't open database: "));

  // An empty file, though, becomes a new database.
  database_.reset();
  std::filesystem::remove(dbPath_);
  dbtest::WriteBytes(dbPath_, "");
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(SQLite().getVersion(), L"7");
}

TEST_F(SQLiteTest, LimitedQueriesKeepTheFirstRows) {
  OpenNew();
  {
    RawDb raw(dbPath_);
    for (int i = 0; i < 30; ++i) {
      raw.Exec("INSERT INTO Schedules (Name, StartTime, FilePath) VALUES ('n" +
               std::to_string(i) + "', " + std::to_string(20300101000000 + (29 - i)) +
               ", NULL)");
    }
  }
  SQLite query;
  query.LimitRows(2);
  ASSERT_TRUE(query.RunQuery("SELECT * FROM Schedules ORDER BY StartTime", L"test"));
  ASSERT_EQ(query.GetRowCount(), 2);
  EXPECT_EQ(query.GetString("Name"), L"n29");
  query.Next();
  EXPECT_EQ(query.GetString("Name"), L"n28");
  query.Next();
  EXPECT_EQ(query.FindIndex("Name"), -1);  // past the kept rows
  // The limit is for one statement only, and a failing one reports as usual.
  ASSERT_TRUE(query.RunQuery("SELECT * FROM Schedules", L"test"));
  EXPECT_EQ(query.GetRowCount(), 30);
  query.LimitRows(1);
  EXPECT_FALSE(query.RunQuery("SELECT x FROM nowhere", L"limited"));
  EXPECT_EQ(query.GetRowCount(), 0);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SQL error in limited: no such table: nowhere"));
}

TEST_F(SQLiteTest, AnOlderFileGetsTheIndexesAndPlannerStatisticsOnceAndALaterStartWritesNothing) {
  // An earlier release's version-7 file: the old start index, no statistics.
  dbtest::MakeDatabase(folder_, 7);
  {
    RawDb raw(dbPath_);
    raw.Exec("CREATE INDEX SchedulesByStart ON Schedules (StartTime)");
  }
  ASSERT_TRUE(OpenDatabase());
  RawDb raw(dbPath_);
  EXPECT_EQ(raw.Value("SELECT count(*) FROM sqlite_master WHERE name = 'SchedulesByStart'"), "0");
  EXPECT_EQ(raw.Value("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                      "tbl_name = 'Schedules'"),
            "8");
  EXPECT_EQ(raw.Value("SELECT count(*) FROM sqlite_master WHERE name = 'SeasonPassesByMediumId'"),
            "1");
  EXPECT_EQ(raw.Value("SELECT stat FROM sqlite_stat1 WHERE idx = 'SchedulesByStatusEnd'"),
            "100000 100 2 1");
  // The statistics steer a file path lookup to its index despite the status.
  auto plan = raw.Rows("EXPLAIN QUERY PLAN SELECT * FROM Schedules WHERE FilePath = 'x' AND "
                       "Status = 'DVRSTATE_SCHEDULED'");
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_NE(plan[0][3].find("SchedulesByFile"), std::string::npos) << plan[0][3];

  // Changed statistics are put back; a start with all in place commits nothing.
  raw.Exec("UPDATE sqlite_stat1 SET stat = '10 10' WHERE idx = 'SchedulesByFile'");
  database_->Close();
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(raw.Value("SELECT stat FROM sqlite_stat1 WHERE idx = 'SchedulesByFile'"), "100000 1");
  const std::string version = raw.Value("PRAGMA data_version");
  database_->Close();
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(raw.Value("PRAGMA data_version"), version);
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"AddIndexes")) << tev::ToStdUtf8(log_->Dump());
}
