// Bound values give what SQLite gives for the text with the values written in.
#include "db/StatementCache.h"

#include <sqlite3.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

// A module running for months formats many distinct statement texts.
TEST(StatementCacheTest, KeepsABoundedSet) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  {
    StatementCache cache(2);
    std::string error;
    for (int i = 0; i < 5; ++i) {
      sqlite3_stmt* statement = cache.Acquire(db, "SELECT " + std::to_string(i), nullptr, &error);
      ASSERT_NE(statement, nullptr) << error;
      StatementCache::Release(statement);
      EXPECT_EQ(cache.Size(), static_cast<size_t>(std::min(i + 1, 2))) << i;
    }
  }
  sqlite3_close(db);
}

class CachedQueryTest : public dbtest::OpenDbFixture {};

TEST_F(CachedQueryTest, BoundValuesGiveTheRowsAndBytesOfTheTextItself) {
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
  // The first statement twice: the second run reuses it.
  const Case cases[] = {
      {"SELECT * FROM Schedules WHERE Name = ?", "'It''s'", {L"It's"}},
      {"SELECT * FROM Schedules WHERE Name = ?", "'Plain'", {L"Plain"}},
      // Text column against a number and the reverse: converted as a literal is.
      {"SELECT Name FROM Schedules WHERE Owner = ?", "108", {108}},
      {"SELECT Name FROM Schedules WHERE Duration = ?", "'1800'", {L"1800"}},
      {"SELECT Name, Description FROM Schedules WHERE StartTime > ? ORDER BY StartTime",
       "20261208000000",
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
  // Text outside the BMP is stored as the module's unit-by-unit UTF-8.
  const std::wstring odd = L"O'Brien \U0001F3AC";
  SQLite update;
  ASSERT_TRUE(update.RunQuery("UPDATE 'Schedules' SET 'Description' = ?, 'Owner' = ?, "
                              "'Duration' = ? WHERE Name = ?",
                              {odd, L"9", L"75", L"It's"}, L"test"));
  EXPECT_EQ(raw.Value("SELECT hex(Description) || typeof(Owner) || typeof(Duration) FROM "
                      "Schedules WHERE ID = 1"),
            "4F27427269656E20EDA0BCEDBEAC" "textinteger");
  // Too few or too many values, or a second statement: nothing runs.
  EXPECT_FALSE(update.RunQuery("UPDATE Schedules SET Owner = ? WHERE ID = ?", {L"1"}, L"test"));
  EXPECT_FALSE(update.RunQuery("UPDATE Schedules SET Owner = ? WHERE ID = ?", {L"1", 1, 2}, L"t"));
  EXPECT_FALSE(update.RunQuery("UPDATE Schedules SET Owner = ? WHERE ID = 1; DELETE FROM Schedules",
                               {L"1"}, L"t"));
  EXPECT_EQ(raw.Value("SELECT Owner FROM Schedules WHERE ID = 1"), "9");
  EXPECT_EQ(raw.Value("SELECT count(*) FROM Schedules"), "2");
}

TEST_F(CachedQueryTest, FailuresReportAsBeforeAndASchemaChangeIsSeen) {
  SQLite query;
  ASSERT_TRUE(query.RunQuery("SELECT * from Config WHERE Key = 'Version'", L"test"));
  const int32_t columns = query.GetColumnCount();
  EXPECT_EQ(columns, 2);
  ASSERT_TRUE(query.RunQuery("ALTER TABLE Config ADD COLUMN Extra varchar", L"test"));
  ASSERT_TRUE(query.RunQuery("SELECT * from Config WHERE Key = 'FreeSpaceRequired'", L"test"));
  EXPECT_EQ(query.GetColumnCount(), 3);
  EXPECT_EQ(query.GetString("Value"), L"200");

  // A failure at step rather than at prepare.
  ASSERT_TRUE(query.RunQuery("CREATE UNIQUE INDEX OneKey ON Config (Key)", L"test"));
  log_->Clear();
  EXPECT_FALSE(query.RunQuery("INSERT INTO Config (Key, Value) VALUES ('Version', '8')",
                              L"Inserter"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SQL error in Inserter: UNIQUE constraint failed: Config.Key"))
      << tev::ToStdUtf8(log_->Dump());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"INSERT INTO Config (Key, Value) VALUES ('Version', '8')"));
  EXPECT_EQ(query.GetRowCount(), 0);
  EXPECT_TRUE(query.RunQuery("INSERT INTO Config (Key, Value) VALUES ('Other', '1')", L"t"));
  ASSERT_TRUE(query.RunQuery("SELECT * FROM Config WHERE Key = 'Other'", L"t"));
  EXPECT_EQ(query.GetString("Value"), L"1");
}
