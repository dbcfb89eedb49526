// The prepared-statement cache, and that a statement run with bound values
// gives what the same statement with its values written in gives to SQLite
// directly, and stores the same bytes.
#include "db/StatementCache.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

TEST(StatementCacheTest, KeepsABoundedSetAndRefusesTextsThatDoNotPrepare) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (a, b)", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    StatementCache cache(2);
    std::string error;
    auto run = [&](const std::string& text) {
      sqlite3_stmt* statement = cache.Acquire(db, text, nullptr, &error);
      if (statement == nullptr) return -1;
      sqlite3_bind_int64(statement, 1, 4);
      int rc = sqlite3_step(statement);
      StatementCache::Release(statement);
      return rc;
    };
    EXPECT_EQ(run("INSERT INTO t VALUES (?, 'x')"), SQLITE_DONE);
    EXPECT_EQ(run("SELECT a FROM t WHERE a = ?"), SQLITE_ROW);
    EXPECT_EQ(run("SELECT b FROM t WHERE a = ?"), SQLITE_ROW);
    EXPECT_EQ(cache.Size(), 2u);  // the least recently used one went
    EXPECT_EQ(run("INSERT INTO t VALUES (?, 'x')"), SQLITE_DONE);
    EXPECT_EQ(cache.Size(), 2u);
    // The same text again is the same statement, its bindings dropped.
    sqlite3_stmt* first = cache.Acquire(db, "SELECT a FROM t WHERE a = ?", nullptr, &error);
    ASSERT_NE(first, nullptr);
    StatementCache::Release(first);
    EXPECT_EQ(cache.Acquire(db, "SELECT a FROM t WHERE a = ?", nullptr, &error), first);
    EXPECT_EQ(sqlite3_step(first), SQLITE_DONE);  // NULL matches nothing
    StatementCache::Release(first);
    // Does not prepare: refused with the engine's message; several
    // statements: refused without one.
    EXPECT_EQ(run("SELECT a FROM nowhere WHERE a = ?"), -1);
    EXPECT_EQ(error, "no such table: nowhere");
    EXPECT_EQ(run("SELECT a FROM t WHERE a = 1; SELECT 2"), -1);
    EXPECT_EQ(error, "");
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
  }
  sqlite3_close(db);
}

class CachedQueryTest : public dbtest::DbFixture {};

TEST_F(CachedQueryTest, BoundValuesGiveTheRowsAndBytesOfTheTextItself) {
  OpenNew();
  database_->Close();  // the connection opens again at the next statement
  {
    dbtest::RawDb raw(dbPath_);
    raw.Exec("INSERT INTO Schedules (Name, Owner, Duration, StartTime, Description) VALUES "
             "('It''s', '108', 1800, 20261208033000, NULL), ('Plain', '7', 60, 20261209000000, "
             "'d')");
  }
  struct Case {
    const char* bound;
    const char* literal;  // what the value is written in as, in place of the '?'
    std::vector<SqlValue> values;
  };
  // The first statement twice with other values: the second run reuses it.
  const Case cases[] = {
      {"SELECT * FROM Schedules WHERE Name = ?", "'It''s'", {L"It's"}},
      {"SELECT * FROM Schedules WHERE Name = ?", "'Plain'", {L"Plain"}},
      // Text column against a number and integer column against text: the
      // comparison converts the same way as with the literal in the text.
      {"SELECT Name FROM Schedules WHERE Owner = ?", "108", {108}},
      {"SELECT Name FROM Schedules WHERE Duration = ?", "'1800'", {L"1800"}},
      // A time bound as its database text compares as the number written in.
      {"SELECT Name, Description FROM Schedules WHERE StartTime > ? ORDER BY StartTime", "20261208000000",
       {SqlValue::Utf8("20261208000000")}},
      {"SELECT Name FROM Schedules WHERE Name = ?", "'nothing'", {L"nothing"}},
      {"SELECT Name FROM Schedules WHERE Description IS ?", "NULL", {SqlValue::Null()}},
  };
  dbtest::RawDb raw(dbPath_);
  for (const Case& c : cases) {
    std::string literal = c.bound;
    literal.replace(literal.find('?'), 1, c.literal);
    SCOPED_TRACE(literal);
    SQLite query;
    ASSERT_TRUE(query.RunQuery(c.bound, c.values, L"test"));
    const auto expected = raw.Rows(SQLite::RewriteColumnList(literal));
    ASSERT_EQ(query.GetRowCount(), static_cast<int32_t>(expected.size()));
    if (expected.empty()) {
      EXPECT_EQ(query.GetColumnCount(), 0);  // as sqlite3_get_table reports it
      continue;
    }
    ASSERT_EQ(query.GetColumnCount(), static_cast<int32_t>(expected[0].size()));
    // Name is column 11 of the rewritten Schedules list, else the first.
    const size_t name = literal[7] == '*' ? 11 : 0;
    for (size_t row = 0; row < expected.size(); ++row, query.Next()) {
      EXPECT_EQ(query.GetString("Name"), tev::FromStdUtf8(expected[row][name]));
      if (expected[row].size() == 2) {
        const std::string description = expected[row][1] == "<NULL>" ? "" : expected[row][1];
        EXPECT_EQ(query.GetString("Description"), tev::FromStdUtf8(description));
      }
    }
  }
  // A text with a quote and a character outside the BMP is stored as the
  // module's unit-by-unit UTF-8 and as its type (text into a text column,
  // a number's text into an integer column as a number).
  const std::wstring odd = L"O'Brien \U0001F3AC";
  SQLite update;
  ASSERT_TRUE(update.RunQuery("UPDATE 'Schedules' SET 'Description' = ?, 'Owner' = ?, "
                              "'Duration' = ? WHERE Name = ?",
                              {odd, L"9", L"75", L"It's"}, L"test"));
  EXPECT_EQ(raw.Value("SELECT hex(Description) || typeof(Owner) || typeof(Duration) FROM "
                      "Schedules WHERE ID = 1"),
            "4F27427269656E20EDA0BCEDBEAC" "textinteger");
  // Too few or too many values: refused before anything runs.
  EXPECT_FALSE(update.RunQuery("UPDATE Schedules SET Owner = ? WHERE ID = ?", {L"1"}, L"test"));
  EXPECT_FALSE(update.RunQuery("UPDATE Schedules SET Owner = ? WHERE ID = ?", {L"1", 1, 2}, L"t"));
  EXPECT_EQ(raw.Value("SELECT Owner FROM Schedules WHERE ID = 1"), "9");
}

TEST_F(CachedQueryTest, FailuresReportAsBeforeAndASchemaChangeIsSeen) {
  OpenNew();
  SQLite query;
  ASSERT_TRUE(query.RunQuery("SELECT * from Config WHERE Key = 'Version'", L"test"));
  const int32_t columns = query.GetColumnCount();
  EXPECT_EQ(columns, 2);
  // The cached shape of the same statement sees the new column.
  ASSERT_TRUE(query.RunQuery("ALTER TABLE Config ADD COLUMN Extra varchar", L"test"));
  ASSERT_TRUE(query.RunQuery("SELECT * from Config WHERE Key = 'FreeSpaceRequired'", L"test"));
  EXPECT_EQ(query.GetColumnCount(), 3);
  EXPECT_EQ(query.GetString("Value"), L"200");

  // A constraint failure: the engine's message, and no result kept.
  ASSERT_TRUE(query.RunQuery("CREATE UNIQUE INDEX OneKey ON Config (Key)", L"test"));
  log_->Clear();
  EXPECT_FALSE(query.RunQuery("INSERT INTO Config (Key, Value) VALUES ('Version', '8')",
                              L"Inserter"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SQL error in Inserter: UNIQUE constraint failed: Config.Key"))
      << tev::ToStdUtf8(log_->Dump());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"INSERT INTO Config (Key, Value) VALUES ('Version', '8')"));
  EXPECT_EQ(query.GetRowCount(), 0);
  // The next run of that shape works with other values.
  EXPECT_TRUE(query.RunQuery("INSERT INTO Config (Key, Value) VALUES ('Other', '1')", L"t"));
  ASSERT_TRUE(query.RunQuery("SELECT * FROM Config WHERE Key = 'Other'", L"t"));
  EXPECT_EQ(query.GetString("Value"), L"1");
}
