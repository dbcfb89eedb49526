// The prepared-statement cache: which literals a statement's shape takes
// out, and that a statement run through the cache gives what the same text
// gives to SQLite directly.
#include "db/StatementCache.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

using statement_shape::Lift;
using statement_shape::Literal;

namespace {

struct Shaped {
  std::string shape;
  std::vector<std::string> values;  // texts as they are, numbers as "#n"
};

Shaped ShapeOf(const std::string& sql) {
  Shaped result;
  std::vector<Literal> literals;
  if (!Lift(sql, &result.shape, &literals)) {
    result.shape = "(not taken)";
    return result;
  }
  for (const Literal& literal : literals) {
    result.values.push_back(literal.isText ? literal.text : "#" + std::to_string(literal.number));
  }
  return result;
}

}  // namespace

TEST(StatementShapeTest, OnlyValuesAreTakenOut) {
  struct Case {
    const char* sql;
    const char* shape;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"SELECT * FROM Schedules WHERE Name = 'It''s' AND ID != -5 AND StartTime >= 20261208033000",
       "SELECT * FROM Schedules WHERE Name = ? AND ID != -? AND StartTime >= ?",
       {"It's", "#5", "#20261208033000"}},
      // Quoted names of an INSERT column list and of SET stay; values go.
      {"INSERT INTO 'Schedules' ('User', 'Name') VALUES ('a', 12)",
       "INSERT INTO 'Schedules' ('User', 'Name') VALUES (?, ?)",
       {"a", "#12"}},
      {"UPDATE 'Schedules' SET 'User' = 'x', 'Status' = 'y=z' WHERE ID = 3",
       "UPDATE 'Schedules' SET 'User' = ?, 'Status' = ? WHERE ID = ?",
       {"x", "y=z", "#3"}},
      {"UPDATE Schedules SET TevMediumId = 'M1' WHERE FilePath = '/a b/c.asf'",
       "UPDATE Schedules SET TevMediumId = ? WHERE FilePath = ?",
       {"M1", "/a b/c.asf"}},
      // Select lists, ORDER BY, LIMIT and LIKE patterns keep their literals.
      {"SELECT 'a', 1 FROM Config WHERE Key = 'k' ORDER BY 1 LIMIT 2",
       "SELECT 'a', 1 FROM Config WHERE Key = ? ORDER BY 1 LIMIT 2",
       {"k"}},
      {"SELECT ID FROM Schedules WHERE Name LIKE 'x%' ESCAPE '!' AND Owner = '7'",
       "SELECT ID FROM Schedules WHERE Name LIKE 'x%' ESCAPE '!' AND Owner = ?",
       {"7"}},
      // Subqueries: the inner WHERE takes values; the inner select list does not.
      {"SELECT ID FROM t WHERE a IN (SELECT 5 FROM c WHERE d = 'e')",
       "SELECT ID FROM t WHERE a IN (SELECT 5 FROM c WHERE d = ?)",
       {"e"}},
      // Reals, hex, blobs, numbers past 64 bits and quoted identifiers stay.
      {"DELETE FROM t WHERE a = 1.5 AND b = 0x1F AND c = X'00' AND d = 99999999999999999999 "
       "AND \"e\" = 2e3 AND [f] = 4",
       "DELETE FROM t WHERE a = 1.5 AND b = 0x1F AND c = X'00' AND d = 99999999999999999999 "
       "AND \"e\" = 2e3 AND [f] = ?",
       {"#4"}},
      {"select id from t where k = 'v';  ", "select id from t where k = ?;  ", {"v"}},
      // Not taken: other statements, own parameters, comments, several
      // statements, unclosed text.
      {"PRAGMA journal_mode", "(not taken)", {}},
      {"begin", "(not taken)", {}},
      {"SELECT 1; SELECT 2", "(not taken)", {}},
      {"SELECT a FROM t WHERE b = ?", "(not taken)", {}},
      {"SELECT a FROM t WHERE b = :b", "(not taken)", {}},
      {"SELECT a FROM t -- note", "(not taken)", {}},
      {"SELECT a FROM t WHERE b = 'open", "(not taken)", {}},
  };
  for (const Case& c : cases) {
    const Shaped shaped = ShapeOf(c.sql);
    EXPECT_EQ(shaped.shape, c.shape) << c.sql;
    EXPECT_EQ(shaped.values, c.values) << c.sql;
  }
}

TEST(StatementCacheTest, KeepsABoundedSetAndRefusesShapesThatDoNotPrepare) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (a, b)", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    StatementCache cache(2);
    std::vector<Literal> one(1);
    one[0].number = 4;
    auto run = [&](const std::string& shape, const std::vector<Literal>& literals) {
      sqlite3_stmt* statement = cache.Acquire(db, shape, literals);
      if (statement == nullptr) return -1;
      int rc = sqlite3_step(statement);
      StatementCache::Release(statement);
      return rc;
    };
    EXPECT_EQ(run("INSERT INTO t VALUES (?, 'x')", one), SQLITE_DONE);
    EXPECT_EQ(run("SELECT a FROM t WHERE a = ?", one), SQLITE_ROW);
    EXPECT_EQ(run("SELECT b FROM t WHERE a = ?", one), SQLITE_ROW);
    EXPECT_EQ(cache.Size(), 2u);  // the least recently used one went
    EXPECT_EQ(run("INSERT INTO t VALUES (?, 'x')", one), SQLITE_DONE);
    EXPECT_EQ(cache.Size(), 2u);
    // Does not prepare, or not with one parameter per literal: refused.
    EXPECT_EQ(run("SELECT nothing FROM nowhere WHERE a = ?", one), -1);
    EXPECT_EQ(run("SELECT a FROM t WHERE a = ? AND b = ?", one), -1);
    EXPECT_EQ(run("SELECT a FROM t WHERE a = 1; SELECT 2", {}), -1);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
  }
  sqlite3_close(db);
}

class CachedQueryTest : public dbtest::DbFixture {};

TEST_F(CachedQueryTest, RowsAreThoseOfTheTextItself) {
  OpenNew();
  SQLite::Close();  // the connection opens again at the next statement
  {
    dbtest::RawDb raw(dbPath_);
    raw.Exec("INSERT INTO Schedules (Name, Owner, Duration, StartTime, Description) VALUES "
             "('It''s', '108', 1800, 20261208033000, NULL), ('Plain', '7', 60, 20261209000000, "
             "'d')");
  }
  // Each statement twice with other values: the second run reuses the shape.
  const char* statements[] = {
      "SELECT * FROM Schedules WHERE Name = 'It''s'",
      "SELECT * FROM Schedules WHERE Name = 'Plain'",
      // Text column against a number and integer column against text: the
      // comparison converts the same way as with the literal in the text.
      "SELECT Name FROM Schedules WHERE Owner = 108",
      "SELECT Name FROM Schedules WHERE Owner = 7",
      "SELECT Name FROM Schedules WHERE Duration = '1800'",
      "SELECT Name FROM Schedules WHERE Duration = '60'",
      "SELECT Name, Description FROM Schedules WHERE StartTime > 20261208000000 ORDER BY StartTime",
      "SELECT Name, Description FROM Schedules WHERE StartTime > 20261209000000 ORDER BY StartTime",
      "SELECT Name FROM Schedules WHERE Name = 'nothing'",
  };
  dbtest::RawDb raw(dbPath_);
  for (const char* text : statements) {
    SQLite query;
    ASSERT_TRUE(query.RunQuery(tev::FromStdUtf8(text), L"test")) << text;
    const std::string rewritten = SQLite::RewriteColumnList(text);
    const auto expected = raw.Rows(rewritten);
    ASSERT_EQ(query.GetRowCount(), static_cast<int32_t>(expected.size())) << text;
    if (expected.empty()) {
      EXPECT_EQ(query.GetColumnCount(), 0) << text;  // as sqlite3_get_table reports it
      continue;
    }
    ASSERT_EQ(query.GetColumnCount(), static_cast<int32_t>(expected[0].size())) << text;
    // Name is column 11 of the rewritten Schedules list, else the first.
    const size_t name = text[7] == '*' ? 11 : 0;
    for (size_t row = 0; row < expected.size(); ++row, query.Next()) {
      EXPECT_EQ(query.GetString("Name"), tev::FromStdUtf8(expected[row][name])) << text;
      if (expected[row].size() == 2) {
        const std::string description = expected[row][1] == "<NULL>" ? "" : expected[row][1];
        EXPECT_EQ(query.GetString("Description"), tev::FromStdUtf8(description)) << text;
      }
    }
  }
  // NULL reads empty; the quoted-name UPDATE runs and changes the row.
  SQLite update;
  ASSERT_TRUE(update.RunQuery(L"UPDATE 'Schedules' SET 'Description' = 'new', 'Owner' = '9' "
                              L"WHERE Name = 'It''s'",
                              L"test"));
  EXPECT_EQ(raw.Value("SELECT Description || Owner FROM Schedules WHERE ID = 1"), "new9");
}

TEST_F(CachedQueryTest, FailuresReportAsBeforeAndASchemaChangeIsSeen) {
  OpenNew();
  SQLite query;
  ASSERT_TRUE(query.RunQuery(L"SELECT * from Config WHERE Key = 'Version'", L"test"));
  const int32_t columns = query.GetColumnCount();
  EXPECT_EQ(columns, 2);
  // The cached shape of the same statement sees the new column.
  ASSERT_TRUE(query.RunQuery(L"ALTER TABLE Config ADD COLUMN Extra varchar", L"test"));
  ASSERT_TRUE(query.RunQuery(L"SELECT * from Config WHERE Key = 'FreeSpaceRequired'", L"test"));
  EXPECT_EQ(query.GetColumnCount(), 3);
  EXPECT_EQ(query.GetString("Value"), L"200");

  // A constraint failure: the engine's message, and no result kept.
  ASSERT_TRUE(query.RunQuery(L"CREATE UNIQUE INDEX OneKey ON Config (Key)", L"test"));
  log_->Clear();
  EXPECT_FALSE(query.RunQuery(L"INSERT INTO Config (Key, Value) VALUES ('Version', '8')",
                              L"Inserter"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SQL error in Inserter: UNIQUE constraint failed: Config.Key"))
      << tev::ToStdUtf8(log_->Dump());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"INSERT INTO Config (Key, Value) VALUES ('Version', '8')"));
  EXPECT_EQ(query.GetRowCount(), 0);
  // The next run of that shape works with other values.
  EXPECT_TRUE(query.RunQuery(L"INSERT INTO Config (Key, Value) VALUES ('Other', '1')", L"t"));
  ASSERT_TRUE(query.RunQuery(L"SELECT * FROM Config WHERE Key = 'Other'", L"t"));
  EXPECT_EQ(query.GetString("Value"), L"1");

  // A shape that does not prepare falls back to the text and its message.
  log_->Clear();
  EXPECT_FALSE(query.RunQuery(L"SELECT Value FROM Config WHERE Nope = 'x'", L"Reader"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SQL error in Reader: no such column: Nope"));
}
