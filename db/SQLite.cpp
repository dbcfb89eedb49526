#include "db/SQLite.h"

#include <sqlite3.h>


#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <vector>

#include "db/EpisodeMarks.h"
#include "db/GroupSync.h"
#include "db/LogSyncer.h"
#include "db/StatementCache.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "platform/Clock.h"
#include "platform/Folders.h"
#include "platform/WideText.h"
#include "support/GlobalLocks.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kFileName[] = L"TevPVR.db";
const wchar_t kSeparator = L'/';

// Guarded by DatabaseMutex().
sqlite3* g_connection = nullptr;
std::wstring g_folder;
// Statements that may still succeed before injected failures start; -1 off.
int g_faultCountdown = -1;
std::function<void(const std::string&)> g_observer;
// Prepared statements of g_connection; cleared before it closes. The
// module's statements are some 150 fixed texts (IN lists add a few sizes).
StatementCache g_statements(256);
// The connection writes a write-ahead log (group syncs need one), and its
// commits currently skip the sync (for a thread inside a GroupSync).
bool g_wal = false;
bool g_relaxed = false;
// This thread's GroupSync depth, and whether its statements changed rows
// since the outermost scope began.
thread_local int t_groupDepth = 0;
thread_local bool t_groupChanged = false;
// Commits inside a GroupSync::Rebuildable scope, counted apart.
thread_local int t_rebuildableDepth = 0;
thread_local bool t_rebuildableChanged = false;
// Syncs begun by Rebuildable scopes: only Close waits for them.
std::mutex g_rebuildableMutex;
std::vector<std::future<bool>> g_rebuildableSyncs;  // guarded by g_rebuildableMutex
// Syncs of the log that this thread's group runs on other threads (true
// when it synced); the outermost scope's end waits for them.
thread_local std::vector<std::future<bool>> t_backgroundSyncs;
// The thread whose transaction (db/Transaction.h) is open, and how many
// scopes deep; other threads' statements wait on g_transactionEnded.
pthread_t g_transactionOwner;
int g_transactionDepth = 0;
pthread_cond_t g_transactionEnded = PTHREAD_COND_INITIALIZER;

struct ColumnListRewrite {
  const char* prefix;
  const char* columns;
};

const ColumnListRewrite kRewrites[] = {
    {"SELECT * FROM Schedules",
     "SELECT ID, User, Type, Status, ChannelName, ChannelMimetype, Channel, Owner, StartTime, "
     "EndTime, Duration, Name, Category, EpisodeTitle, EpisodeUrl, Description, FilePath, "
     "Quality, Tuner, Subtitle, KeepUntil, PlayPosition, StartPadding, EndPadding, TevMediumId "
     "FROM Schedules"},
    {"SELECT * FROM SeasonPasses",
     "SELECT ID, User, Priority, Category, ProgramName, RestrictToOneChannel, ChannelName, "
     "ChannelMimetype, ChannelMedium, Quality, ScheduleMode, StartDate, LastSearched, KeepUntil, "
     "Duration, GuideType, StartPadding, EndPadding, TevMediumId FROM SeasonPasses"},
    {"SELECT * FROM Config", "SELECT Key, Value FROM Config"},
};

// `sql` with each "?" outside quotes replaced by its value as a literal, for
// the log and the statement observer.
std::string WithValuesWrittenIn(const std::string& sql, const std::vector<SqlValue>& values) {
  std::string text;
  text.reserve(sql.size());
  size_t next = 0;
  char quote = '\0';
  for (char c : sql) {
    if (quote != '\0') {
      if (c == quote) quote = '\0';
      text += c;
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (c != '?' || next >= values.size()) {
      text += c;
      continue;
    }
    const SqlValue& value = values[next++];
    switch (value.kind()) {
      case SqlValue::Kind::kNull:
        text += "NULL";
        break;
      case SqlValue::Kind::kInteger:
        text += std::to_string(value.number());
        break;
      case SqlValue::Kind::kText:
        text += '\'';
        for (char t : value.text()) {
          text += t;
          if (t == '\'') text += '\'';
        }
        text += '\'';
        break;
    }
  }
  return text;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char a = static_cast<unsigned char>(text[i]);
    unsigned char b = static_cast<unsigned char>(prefix[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// Waits while another thread's transaction is open, so that no statement
// of this thread falls inside it.
void WaitForOtherTransactionsLocked() TEV_REQUIRES(DatabaseMutex()) {
  while (g_transactionDepth > 0 && !pthread_equal(g_transactionOwner, pthread_self())) {
    pthread_cond_wait(&g_transactionEnded, DatabaseMutex().native());
  }
}

std::wstring FilePathLocked() TEV_REQUIRES(DatabaseMutex()) {
  std::wstring path = g_folder;
  path += kSeparator;
  path += kFileName;
  return path;
}

// Reads the whole file structure once so that a file that is not a
// database, or one whose pages are damaged, is refused at open instead of
// failing every later statement. Read-only: the file is not touched.
bool CheckIntegrityLocked(sqlite3* db, std::string* error) {
  std::string first;
  auto collect = [](void* out, int columns, char** values, char**) -> int {
    std::string* text = static_cast<std::string*>(out);
    if (text->empty() && columns > 0 && values[0] != nullptr) *text = values[0];
    return 0;
  };
  char* message = nullptr;
  int rc = sqlite3_exec(db, "PRAGMA quick_check", collect, &first, &message);
  if (rc != SQLITE_OK) {
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
  }
  if (first != "ok") {
    *error = first.empty() ? std::string("database disk image is malformed") : first;
    return false;
  }
  return true;
}

// Opens the connection at the stored folder. On failure leaves it absent
// and returns false with the engine's error text.
bool OpenLocked(std::string* error) TEV_REQUIRES(DatabaseMutex()) {
  g_statements.Clear();
  if (g_connection != nullptr) {
    sqlite3_close_v2(g_connection);
    g_connection = nullptr;
  }
  if (g_folder.empty()) {
    *error = "no database folder";
    return false;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open(tev::ToStdUtf8(FilePathLocked()).c_str(), &db);
  if (rc != SQLITE_OK) {
    *error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return false;
  }
  // Other processes (tools, benchmarks) may hold the file briefly.
  sqlite3_busy_timeout(db, 2000);
  if (!CheckIntegrityLocked(db, error)) {
    sqlite3_close_v2(db);
    return false;
  }
  // Write-ahead log: a commit is one append instead of a journal and two
  // syncs. FULL syncs the log at every commit, so a schedule that was
  // acknowledged survives a power cut too (NORMAL would leave the last
  // commits in the page cache).
  std::string mode;
  auto first = [](void* out, int columns, char** values, char**) -> int {
    if (columns > 0 && values[0] != nullptr) *static_cast<std::string*>(out) = values[0];
    return 0;
  };
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", first, &mode, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  g_wal = mode == "wal";
  g_relaxed = false;
  g_connection = db;
  return true;
}

bool Open() {
  std::string error;
  bool opened;
  {
    PMutexLock lock(DatabaseMutex());
    opened = OpenLocked(&error);
  }
  if (!opened) LogError(L"Can't open database: %ls\n", tev::Utf8ToWide(error).c_str());
  return opened;
}

}  // namespace

SqlValue::SqlValue(const std::wstring& text) : kind_(Kind::kText), text_(tev::WideToUtf8(text)) {}

SqlValue::SqlValue(const wchar_t* text) : SqlValue(std::wstring(text)) {}

SqlValue SqlValue::Utf8(std::string text) {
  SqlValue value;
  value.kind_ = Kind::kText;
  value.text_ = std::move(text);
  return value;
}

SqlValue SqlValue::Time(int64_t t) { return SqlValue(FormatTime3(t)); }

SqlValue SqlValue::TimeNumber(int64_t t) {
  return SqlValue(static_cast<int64_t>(std::stoll(tev::WideToUtf8(FormatTime3(t)))));
}

SQLite::SQLite() = default;

SQLite::~SQLite() { FreeResult(); }

void SQLite::FreeResult() {
  if (result_ != nullptr) {
    sqlite3_free_table(result_);
    result_ = nullptr;
  }
  table_ = nullptr;
  cellText_.clear();
  cellOffsets_.clear();
  cellPointers_.clear();
  rowCount_ = 0;
  columnCount_ = 0;
}

bool SQLite::StepRowsLocked(sqlite3_stmt* statement, int32_t limit, std::string* error) {
  auto keep = [this](const char* text) {
    if (text == nullptr) {
      cellOffsets_.push_back(-1);
      return;
    }
    cellOffsets_.push_back(static_cast<int32_t>(cellText_.size()));
    cellText_.append(text);
    cellText_ += '\0';
  };
  // Header row first, then the values, as sqlite3_get_table lays them out.
  // The columns are read after the first step: a statement prepared before
  // a schema change is prepared again by that step.
  int columns = 0;
  int rows = 0;
  int rc = SQLITE_DONE;
  while (rows < limit && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (rows == 0) {
      columns = sqlite3_column_count(statement);
      for (int i = 0; i < columns; ++i) keep(sqlite3_column_name(statement, i));
    }
    for (int i = 0; i < columns; ++i) {
      keep(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
    }
    ++rows;
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(sqlite3_db_handle(statement));
    cellText_.clear();
    cellOffsets_.clear();
    return false;
  }
  cellPointers_.reserve(cellOffsets_.size());
  for (int32_t offset : cellOffsets_) {
    cellPointers_.push_back(offset < 0 ? nullptr : cellText_.data() + offset);
  }
  table_ = cellPointers_.data();
  rowCount_ = rows;
  columnCount_ = columns;  // none without rows, as sqlite3_get_table reports it
  return true;
}

bool SQLite::RunLocked(sqlite3* db, const std::string& sql, const std::vector<SqlValue>& values,
                       int32_t limit, std::string* error) {
  // The text still reads "SELECT * FROM ...": a short key, written out only
  // when first prepared.
  sqlite3_stmt* statement = g_statements.Acquire(db, sql, &RewriteColumnList, error);
  if (statement == nullptr) {
    if (!error->empty()) return false;
    if (!values.empty() || limit > 0) {
      *error = "not one statement";
      return false;
    }
    return RunTextLocked(db, RewriteColumnList(sql), error);
  }
  int slot = 0;
  int rc = SQLITE_OK;
  for (const SqlValue& value : values) {
    ++slot;
    switch (value.kind()) {
      case SqlValue::Kind::kNull:
        rc = sqlite3_bind_null(statement, slot);
        break;
      case SqlValue::Kind::kInteger:
        rc = sqlite3_bind_int64(statement, slot, value.number());
        break;
      case SqlValue::Kind::kText:
        rc = sqlite3_bind_text(statement, slot, value.text().data(),
                               static_cast<int>(value.text().size()), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) break;
  }
  if (rc == SQLITE_OK && limit > 0) rc = sqlite3_bind_int64(statement, ++slot, limit);
  if (rc == SQLITE_OK && slot != sqlite3_bind_parameter_count(statement)) rc = SQLITE_RANGE;
  bool ok = false;
  if (rc != SQLITE_OK) {
    *error = rc == SQLITE_RANGE ? "the values do not match the placeholders" : sqlite3_errmsg(db);
  } else {
    ok = StepRowsLocked(statement, limit > 0 ? limit : INT32_MAX, error);
  }
  StatementCache::Release(statement);
  return ok;
}

bool SQLite::RunTextLocked(sqlite3* db, const std::string& sql, std::string* error) {
  char* message = nullptr;
  int rows = 0;
  int columns = 0;
  if (sqlite3_get_table(db, sql.c_str(), &result_, &rows, &columns, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    if (result_ != nullptr) {
      sqlite3_free_table(result_);
      result_ = nullptr;
    }
    rowCount_ = 0;
    columnCount_ = 0;
    return false;
  }
  sqlite3_free(message);
  table_ = result_;
  rowCount_ = rows;
  columnCount_ = columns;
  return true;
}

std::wstring SQLite::DatabaseFolder() {
  std::wstring appData;
  if (!tev::CommonAppDataFolder(&appData) || appData.empty()) {
    throw VelException(L"Coudln't get App Data folder");
  }
  std::wstring networks = appData + kSeparator + L"TevNetworks";
  std::error_code ec;
  if (!fs::is_directory(tev::ToStdUtf8(networks), ec)) {
    fs::create_directory(tev::ToStdUtf8(networks), ec);
  }
  return networks + kSeparator + L"TevPVR";
}

bool SQLite::Initialize(const std::wstring& folder) {
  std::wstring path;
  {
    PMutexLock lock(DatabaseMutex());
    g_folder = folder;
    path = FilePathLocked();
  }
  std::error_code ec;
  const std::string narrowFolder = tev::ToStdUtf8(folder);
  // Missing parents too: on a fresh machine nothing may have made the
  // TevNetworks folder yet.
  if (!fs::is_directory(narrowFolder, ec)) fs::create_directories(narrowFolder, ec);

  const std::string narrowPath = tev::ToStdUtf8(path);
  bool exists = fs::exists(narrowPath, ec);
  bool empty = exists && fs::is_regular_file(narrowPath, ec) && fs::file_size(narrowPath, ec) == 0 && !ec;
  if (!exists || empty) {
    if (!Open()) return false;
    SQLite query;
    if (!query.CreateTables() || !query.AddDefaultData()) return false;
    query.AddIndexes();
    // Like the indexes, a failure here costs a feature, not the start.
    EpisodeMarks::Prepare(query);
    query.CreateSideTables();
    return true;
  }

  if (!Open()) return false;
  LogDebug(L"Checking if database needs updating");
  SQLite query;
  std::wstring version = query.getVersion();
  if (version == L"2") {
    LogInfo(L"Updating database from version 2");
    query.UpdateSchedulesFromVersion2();
  } else if (version == L"3") {
    LogInfo(L"Updating database from version 3");
    query.UpdateSchedulesFromVersion3();
  } else if (version == L"4") {
    LogInfo(L"Updating database from version 4");
    query.UpdateSchedulesFromVersion4();
  } else if (version == L"5") {
    LogInfo(L"Updating database from version 5");
    query.UpdateSchedulesFromVersion5();
  } else if (version == L"6") {
    LogInfo(L"Updating database from version 6");
    query.UpdateSchedulesFromVersion6();
  }
  query.AddIndexes();
  EpisodeMarks::Prepare(query);
  query.CreateSideTables();
  return true;
}

void SQLite::Close() {
  GroupSync::WaitForRebuildableSyncs();
  PMutexLock lock(DatabaseMutex());
  g_statements.Clear();
  if (g_connection != nullptr) {
    sqlite3_close_v2(g_connection);
    g_connection = nullptr;
  }
}

std::wstring SQLite::Folder() {
  PMutexLock lock(DatabaseMutex());
  return g_folder;
}

void SQLite::ResetForTest() {
  PMutexLock lock(DatabaseMutex());
  g_statements.Clear();
  if (g_connection != nullptr) {
    sqlite3_close_v2(g_connection);
    g_connection = nullptr;
  }
  g_folder.clear();
  g_faultCountdown = -1;
  g_observer = nullptr;
}

bool transaction_gate::Enter() {
  PMutexLock lock(DatabaseMutex());
  WaitForOtherTransactionsLocked();
  if (g_transactionDepth++ > 0) return false;
  g_transactionOwner = pthread_self();
  return true;
}

void transaction_gate::Leave() {
  PMutexLock lock(DatabaseMutex());
  if (--g_transactionDepth == 0) pthread_cond_broadcast(&g_transactionEnded);
}

GroupSync::GroupSync() {
  if (t_groupDepth++ == 0) t_groupChanged = false;
}

GroupSync::~GroupSync() {
  if (--t_groupDepth > 0) return;
  bool backgroundFailed = false;
  for (std::future<bool>& sync : t_backgroundSyncs) backgroundFailed |= !sync.get();
  t_backgroundSyncs.clear();
  if (!t_groupChanged && !backgroundFailed) return;
  t_groupChanged = false;
  bool synced = true;
  {
    PMutexLock lock(DatabaseMutex());
    if (g_connection == nullptr || !g_wal) return;
    // The log's own sync, as a commit with synchronous=FULL runs it.
    sqlite3_file* log = nullptr;
    if (sqlite3_file_control(g_connection, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) ==
            SQLITE_OK &&
        log != nullptr && log->pMethods != nullptr) {
      synced = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) == SQLITE_OK;
    }
  }
  if (!synced) LogError(L"GroupSync: the write-ahead log could not be synced");
}

namespace {

// Begins an fdatasync of the log as it stands on another thread; false
// (nothing begun) without a log or a thread.
bool StartLogSync(std::future<bool>* sync) {
  std::string log;
  {
    PMutexLock lock(DatabaseMutex());
    if (g_connection == nullptr || !g_wal) return false;
    const char* file = sqlite3_db_filename(g_connection, "main");
    if (file == nullptr || *file == '\0') return false;
    log = std::string(file) + "-wal";
  }
  // A descriptor of its own: the file's pages are the same, and SQLite's
  // file object is not touched outside the database lock.
  return log_syncer::Begin(log, sync);
}

}  // namespace

void GroupSync::SyncInBackground() {
  if (t_groupDepth == 0 || !t_groupChanged) return;
  std::future<bool> sync;
  if (!StartLogSync(&sync)) return;  // the end of the scope syncs it all
  t_backgroundSyncs.push_back(std::move(sync));
  // What is committed from here on is synced by the end of the scope.
  t_groupChanged = false;
}

GroupSync::Rebuildable::Rebuildable() {
  if (t_rebuildableDepth++ == 0) t_rebuildableChanged = false;
}

GroupSync::Rebuildable::~Rebuildable() {
  if (--t_rebuildableDepth > 0 || !t_rebuildableChanged) return;
  t_rebuildableChanged = false;
  std::future<bool> sync;
  if (!StartLogSync(&sync)) {
    t_groupChanged = true;  // the group's end syncs them with the rest
    return;
  }
  std::lock_guard<std::mutex> hold(g_rebuildableMutex);
  // The finished ones go, so that the list stays short.
  for (auto it = g_rebuildableSyncs.begin(); it != g_rebuildableSyncs.end();) {
    if (it->wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      ++it;
      continue;
    }
    if (!it->get()) LogError(L"GroupSync: the write-ahead log could not be synced");
    it = g_rebuildableSyncs.erase(it);
  }
  g_rebuildableSyncs.push_back(std::move(sync));
}

bool GroupSync::WaitForRebuildableSyncs() {
  std::vector<std::future<bool>> syncs;
  {
    std::lock_guard<std::mutex> hold(g_rebuildableMutex);
    syncs.swap(g_rebuildableSyncs);
  }
  bool all = true;
  for (std::future<bool>& sync : syncs) {
    if (sync.get()) continue;
    LogError(L"GroupSync: the write-ahead log could not be synced");
    all = false;
  }
  return all;
}

void SQLite::ObserveStatementsForTest(std::function<void(const std::string&)> observer) {
  PMutexLock lock(DatabaseMutex());
  g_observer = std::move(observer);
}

void SQLite::FailStatementsAfterForTest(int successes) {
  PMutexLock lock(DatabaseMutex());
  g_faultCountdown = successes < 0 ? -1 : successes;
}

std::string SQLite::RewriteColumnList(const std::string& statement) {
  if (!StartsWithNoCase(statement, "SELECT")) return statement;
  for (const ColumnListRewrite& rewrite : kRewrites) {
    if (!StartsWithNoCase(statement, rewrite.prefix)) continue;
    std::string result = statement;
    const size_t prefixLength = std::strlen(rewrite.prefix);
    const size_t columnsLength = std::strlen(rewrite.columns);
    size_t at = 0;
    while ((at = result.find(rewrite.prefix, at)) != std::string::npos) {
      result.replace(at, prefixLength, rewrite.columns);
      at += columnsLength;
    }
    return result;
  }
  return statement;
}

bool SQLite::RunQuery(const std::string& statement, const std::vector<SqlValue>& values,
                      const std::wstring& caller) {
  try {
    const int32_t limit = rowLimit_;
    rowLimit_ = 0;
    // Telling the engine about the limit turns a full sort into a top-n one.
    const bool limited = limit > 0 && statement.compare(0, 6, "SELECT") == 0 &&
                         statement.find(" LIMIT ") == std::string::npos;
    const std::string limitedText = limited ? statement + " LIMIT ?" : std::string();
    const std::string& sql = limited ? limitedText : statement;
    std::function<void(const std::string&)> observer;
    std::string error;
    bool failed = false;
    bool openFailed = false;
    {
      PMutexLock lock(DatabaseMutex());
      WaitForOtherTransactionsLocked();
      observer = g_observer;
      if (g_connection == nullptr && !OpenLocked(&error)) {
        openFailed = true;
      } else {
        FreeResult();
        if (g_faultCountdown == 0 && sql != "rollback") {
          failed = true;
          error = "injected fault";
        } else {
          if (g_faultCountdown > 0) --g_faultCountdown;
          const bool grouped = t_groupDepth > 0 && g_wal;
          if (grouped != g_relaxed) {
            // NORMAL: a commit appends to the log without a sync.
            sqlite3_exec(g_connection, grouped ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL",
                         nullptr, nullptr, nullptr);
            g_relaxed = grouped;
          }
          const sqlite3_int64 changesBefore = sqlite3_total_changes64(g_connection);
          failed = !RunLocked(g_connection, sql, values, limited ? limit : 0, &error);
          if (grouped && sqlite3_total_changes64(g_connection) != changesBefore) {
            (t_rebuildableDepth > 0 ? t_rebuildableChanged : t_groupChanged) = true;
          }
        }
      }
    }
    if (observer) {
      std::vector<SqlValue> all = values;
      if (limited) all.emplace_back(limit);
      observer(WithValuesWrittenIn(RewriteColumnList(sql), all));
    }
    if (openFailed) {
      LogError(L"Can't open database: %ls\n", tev::Utf8ToWide(error).c_str());
      return false;
    }
    if (failed) {
      lastError_ = tev::Utf8ToWide(error);
      failedStatement_ = tev::Utf8ToWide(WithValuesWrittenIn(statement, values));
      LogError(L"SQL error in %ls: %ls", caller.c_str(), lastError_.c_str());
      LogError(L"%ls", failedStatement_.c_str());
      return false;
    }
    return true;
  } catch (...) {
    LogError(L"RunQuery exception thrown************************");
    return false;
  }
}

void SQLite::AppendInList(std::string* statement, std::vector<SqlValue>* values,
                          std::vector<SqlValue> items) {
  if (items.empty()) {
    *statement += "()";
    return;
  }
  size_t slots = 1;
  while (slots < items.size()) slots *= 2;
  *statement += '(';
  for (size_t i = 0; i < slots; ++i) *statement += i == 0 ? "?" : ", ?";
  *statement += ')';
  values->reserve(values->size() + slots);
  for (SqlValue& item : items) values->push_back(std::move(item));
  for (size_t i = items.size(); i < slots; ++i) values->push_back(values->back());
}

bool SQLite::Begin(const std::wstring& caller) { return RunQuery("begin", caller); }

bool SQLite::Commit(const std::wstring& caller) { return RunQuery("commit", caller); }

bool SQLite::Next() {
  ++currentRow_;
  return true;
}

int SQLite::FindIndex(const char* column) {
  const char* name = column != nullptr ? column : "";
  if (currentRow_ < 0 || currentRow_ >= rowCount_ || table_ == nullptr) {
    LogError(L"FindIndex: Index out of bounds (%ls)", tev::Utf8ToWide(name).c_str());
    return -1;
  }
  for (int32_t k = 0; k < columnCount_; ++k) {
    const int32_t i = (nextColumn_ + k) % columnCount_;
    if (table_[i] != nullptr && std::strcmp(table_[i], name) == 0) {
      nextColumn_ = i + 1;
      return (currentRow_ + 1) * columnCount_ + i;
    }
  }
  LogError(L"FindIndex: Could not find %ls, resultColumns %d", tev::Utf8ToWide(name).c_str(),
           columnCount_);
  return -1;
}

int32_t SQLite::GetInt(const char* column) {
  int index = FindIndex(column);
  if (index < 0) return -1;
  return tev::Atoi(table_[index]);
}

std::wstring SQLite::GetString(const char* column) {
  int index = FindIndex(column);
  if (index < 0 || table_[index] == nullptr) return std::wstring();
  return tev::Utf8ToWide(table_[index]);
}

int64_t SQLite::GetTime(const char* column) {
  int index = FindIndex(column);
  if (index < 0) return tev::Clock::Now();
  return GetTime3(table_[index] == nullptr ? std::wstring() : tev::Utf8ToWide(table_[index]));
}

std::wstring SQLite::getVersion() {
  const char statement[] = "SELECT * FROM Config WHERE Key = 'Version'";
  if (!RunQuery(statement, L"SQLite::getVersion")) {
    LogError(L"SQLite::getVersion sql error in %ls", tev::Utf8ToWide(statement).c_str());
  }
  std::wstring version = GetString("Value");
  LogDebug(L"Version found: %ls", version.c_str());
  return version;
}
