// The small query object through which every statement of the module runs,
// on a Database (db/Database.h): the one it is given, or the default one.
//
// A query object is a value created on the stack by one operation and never
// shared between threads. RunQuery loads the whole result; the getters
// read the current row by column name. A statement is a fixed text with "?"
// placeholders, prepared once per connection; its values (SqlValue) are
// bound at each run, never written into the text. Times are bound as
// database time text (db/TimeUtils.h).
//
// Text is wide in the module and UTF-8 (unit by unit, support/WideText.h)
// inside SQLite.
#ifndef TEV_DB_SQLITE_H_
#define TEV_DB_SQLITE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Database;
struct sqlite3;
struct sqlite3_stmt;

// One value bound to a placeholder: NULL, a 64-bit integer, or text (the
// module's wide text as the unit-by-unit UTF-8 of support/WideText.h, the
// bytes the database stores).
class SqlValue {
 public:
  enum class Kind { kNull, kInteger, kText };

  SqlValue(int32_t number) : kind_(Kind::kInteger), number_(number) {}
  SqlValue(int64_t number) : kind_(Kind::kInteger), number_(number) {}
  SqlValue(const std::wstring& text);
  SqlValue(const wchar_t* text);
  static SqlValue Null() { return SqlValue(); }
  // Text already in the database's encoding.
  static SqlValue Utf8(std::string text);
  // Database time text of `t` (FormatTime3), as a quoted time is written;
  // throws as FormatTime3 does.
  static SqlValue Time(int64_t t);
  // The same text as the number it reads, as an unquoted time is written:
  // the two differ where no column affinity converts (a COALESCE, a sum).
  static SqlValue TimeNumber(int64_t t);

  Kind kind() const { return kind_; }
  int64_t number() const { return number_; }
  const std::string& text() const { return text_; }

 private:
  SqlValue() = default;
  Kind kind_ = Kind::kNull;
  int64_t number_ = 0;
  std::string text_;
};

class SQLite {
 public:
  // On the default database, looked up at each statement.
  SQLite();
  explicit SQLite(Database& database) : database_(&database) {}
  ~SQLite();

  SQLite(const SQLite&) = delete;
  SQLite& operator=(const SQLite&) = delete;

  // --- Process-wide ---

  // The database folder of this machine: <common app data>/TevNetworks/
  // TevPVR (TevNetworks is created when missing). Throws VelException
  // "Coudln't get App Data folder" when the app-data folder is unusable.
  static std::wstring DatabaseFolder();

  // --- Statements ---

  // Runs one statement and keeps its whole result. `caller` names the
  // operation for the error line. Without a database logs "Can't open
  // database: no database folder" and returns false. On failure logs "SQL
  // error in %s: %s" and the statement at ERROR, keeps no result and
  // returns false. Statements
  // beginning "SELECT * FROM Schedules" / "SeasonPasses" / "Config" (prefix
  // test ignoring case) get the prefix, where written in exactly that case,
  // replaced by the fixed column lists. `values` are bound to the
  // statement's placeholders in order; the ERROR line shows the statement
  // with its values written in.
  bool RunQuery(const std::string& statement, const std::vector<SqlValue>& values,
                const std::wstring& caller);
  bool RunQuery(const std::string& statement, const std::wstring& caller) {
    return RunQuery(statement, std::vector<SqlValue>(), caller);
  }
  // Appends "(?, ?, ...)" for `items` to `statement` and the items to
  // `values`, for "x IN (...)". The list is padded to a power of two with
  // its last item repeated (a repeat does not change what IN means), so
  // that lists of any length share a few prepared statements. No items
  // give "()", which nothing is in.
  static void AppendInList(std::string* statement, std::vector<SqlValue>* values,
                           std::vector<SqlValue> items);
  // The next RunQuery keeps only the first `rows` rows of its result (the
  // rest are never read), for callers that look at the first row alone.
  void LimitRows(int32_t rows) { rowLimit_ = rows; }
  bool Begin(const std::wstring& caller);
  bool Commit(const std::wstring& caller);

  int32_t GetRowCount() const { return rowCount_; }
  int32_t GetColumnCount() const { return columnCount_; }
  // Moves to the next row; always true.
  bool Next();
  // The database's message for the last failed statement of this object.
  const std::wstring& LastError() const { return lastError_; }
  // That statement with its values written in, as its ERROR line shows it.
  const std::wstring& FailedStatement() const { return failedStatement_; }

  // Position of `column` (exact, case-sensitive) on the current row in the
  // result table, or -1 with an ERROR line ("FindIndex: Index out of bounds
  // (%s)" past the last row, "FindIndex: Could not find %s, resultColumns
  // %d" for an unknown column).
  int FindIndex(const char* column);
  // atoi of the value; -1 when the column is not found; 0 for NULL.
  int32_t GetInt(const char* column);
  // The value; empty for NULL, empty text or a column not found.
  std::wstring GetString(const char* column);
  // The value read as database time (GetTime3); now when not found.
  int64_t GetTime(const char* column);

  // Value of the Config key "Version"; empty when there is none.
  std::wstring getVersion();

  // --- Schema and upgrade steps (db/Schema.cpp, db/Upgrade.cpp) ---

  // The Config key under which the version-5 step leaves the medium-id
  // stage still to do ("passes", then "schedules"), and the statement that
  // clears it once done (passes/MediumIdUpgrade.cpp finishes it).
  static constexpr wchar_t kMediumIdUpgrade[] = L"MediumIdUpgrade";
  static constexpr char kDeleteStage[] = "DELETE FROM Config WHERE Key = ?";
  bool CreateTables();
  // Lookup indexes of the Schedules table (no effect on results).
  void AddIndexes();
  // The tables outside the versioned schema (a failed recording's reason,
  // the streamer's stream ids), made at every open so that their users run
  // no CREATE per call; an older module ignores them. False when one
  // cannot be made (its feature is then off, the start goes on).
  bool CreateSideTables();
  bool AddDefaultData();
  // Each step commits its changes with the next version text, then hands
  // over to the next one; the last one leaves "Version" = "7". A step that
  // fails leaves the file as it found it.
  void UpdateSchedulesFromVersion2();
  void UpdateSchedulesFromVersion3();
  void UpdateSchedulesFromVersion4();
  void UpdateSchedulesFromVersion5();
  void UpdateSchedulesFromVersion6();

  // The UTF-8 statement after the column-list rewrite.
  static std::string RewriteColumnList(const std::string& statement);

 private:
  void FreeResult();
  // Runs `sql` on the connection of `db` as its cached prepared statement with `values` bound
  // (and `limit`, when > 0, bound to its last placeholder), or, when the
  // text holds several statements and no values, the text itself.
  bool RunLocked(Database* db, const std::string& sql, const std::vector<SqlValue>& values,
                 int32_t limit, std::string* error);
  // Steps a prepared statement to its end or `limit` rows, keeping the rows
  // laid out as sqlite3_get_table lays them out (no columns without rows).
  // Runs a text of several statements as it stands (sqlite3_get_table).
  bool RunTextLocked(sqlite3* db, const std::string& sql, std::string* error);
  bool StepRowsLocked(sqlite3_stmt* statement, int32_t limit, std::string* error);

  Database* database_ = nullptr;  // nullptr: the default one
  // Owned; freed with sqlite3_free_table.
  char** result_ = nullptr;
  int32_t rowCount_ = 0;
  int32_t columnCount_ = 0;
  int32_t currentRow_ = 0;
  int32_t nextColumn_ = 0;  // where FindIndex starts looking: callers read in column order
  std::wstring lastError_;
  std::wstring failedStatement_;
  int32_t rowLimit_ = 0;
  // The current result, laid out as sqlite3_get_table lays it out: either
  // result_, or cellPointers_ into cellText_ after a stepped run.
  const char* const* table_ = nullptr;
  std::string cellText_;              // each cell's text and its NUL
  std::vector<int32_t> cellOffsets_;  // into cellText_; -1 for NULL
  std::vector<const char*> cellPointers_;
};

#endif  // TEV_DB_SQLITE_H_
