#include "db/Database.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <utility>

#include "db/EpisodeMarks.h"
#include "db/GroupSync.h"
#include "db/SQLite.h"
#include "db/Transaction.h"
#include "platform/NoDestructor.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kFileName[] = L"TevPVR.db";
const wchar_t kSeparator = L'/';

// The database of query objects built without one, the lock under which it
// is picked and its own lock taken, and the Config-write lock (held across
// statements on whichever database is the default). Process-wide because
// the engine's static helpers do not yet get the database by constructor.
// Never destroyed: threads may still run statements during exit.
struct DefaultDatabase {
  PMutex pick{false};
  Database* db TEV_GUARDED_BY(pick) = nullptr;
  PMutex configWrite{false};
};

DefaultDatabase& Default() {
  static tev::NoDestructor<DefaultDatabase> current;
  return *current;
}

// Per thread by nature: a GroupSync scope belongs to the thread that holds it.
thread_local Database::ThreadGroup t_group;

// Reads the whole file structure once so that a file that is not a
// database, or one whose pages are damaged, is refused at open instead of
// failing every later statement. Read-only: the file is not touched.
bool CheckIntegrity(sqlite3* db, std::string* error) {
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

}  // namespace

Database::Database(std::wstring folder) : folder_(std::move(folder)) {
  DefaultDatabase& current = Default();
  PMutexLock lock(current.pick);
  current.db = this;
}

Database::~Database() {
  {
    DefaultDatabase& current = Default();
    PMutexLock lock(current.pick);
    if (current.db == this) current.db = nullptr;
  }
  Close();
  pthread_cond_destroy(&transactionEnded_);
}

Database::Hold::Hold(Database* db) : db_(db) {
  if (db_ == nullptr) {
    DefaultDatabase& current = Default();
    PMutexLock lock(current.pick);
    db_ = current.db;
    if (db_ != nullptr) db_->mutex_.lock();
    return;
  }
  db_->mutex_.lock();
}

Database::Hold::~Hold() {
  if (db_ != nullptr) db_->mutex_.unlock();
}

void Database::WithConfigWriteLock(const std::function<void()>& write) {
  PMutexLock lock(Default().configWrite);
  write();
}

Database::ThreadGroup& Database::ThisThreadGroup() { return t_group; }

void Database::WithSettings(const std::function<void(SettingsCache&)>& use) {
  Hold hold(nullptr);
  if (Database* db = hold.get()) {
    db->AssertHeld();
    use(db->settings_);
    return;
  }
  SettingsCache none;
  use(none);
}

std::wstring Database::FilePath() const {
  std::wstring path = folder_;
  path += kSeparator;
  path += kFileName;
  return path;
}

bool Database::OpenLocked(std::string* error) {
  CloseLocked();
  if (folder_.empty()) {
    *error = "no database folder";
    return false;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open(tev::ToStdUtf8(FilePath()).c_str(), &db);
  if (rc != SQLITE_OK) {
    *error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return false;
  }
  // Other processes (tools, benchmarks) may hold the file briefly.
  sqlite3_busy_timeout(db, 2000);
  if (!CheckIntegrity(db, error)) {
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
  wal_ = mode == "wal";
  relaxed_ = false;
  connection_ = db;
  return true;
}

bool Database::OpenLogged() {
  std::string error;
  bool opened;
  {
    PMutexLock lock(mutex_);
    opened = OpenLocked(&error);
  }
  if (!opened) LogError(L"Can't open database: %ls\n", tev::Utf8ToWide(error).c_str());
  return opened;
}

void Database::CloseLocked() {
  statements_.Clear();
  if (connection_ != nullptr) {
    sqlite3_close_v2(connection_);
    connection_ = nullptr;
  }
}

bool Database::Open() {
  std::error_code ec;
  const std::string narrowFolder = tev::ToStdUtf8(folder_);
  // Missing parents too: on a fresh machine nothing may have made the
  // TevNetworks folder yet.
  if (!fs::is_directory(narrowFolder, ec)) fs::create_directories(narrowFolder, ec);

  const std::string narrowPath = tev::ToStdUtf8(FilePath());
  bool exists = fs::exists(narrowPath, ec);
  bool empty = exists && fs::is_regular_file(narrowPath, ec) && fs::file_size(narrowPath, ec) == 0 && !ec;
  if (!OpenLogged()) return false;
  SQLite query(*this);
  if (!exists || empty) {
    if (!query.CreateTables() || !query.AddDefaultData()) return false;
  } else {
    LogDebug(L"Checking if database needs updating");
    // Each step hands over to the next, up to the current version.
    using Step = void (SQLite::*)();
    const std::pair<const wchar_t*, Step> steps[] = {
        {L"2", &SQLite::UpdateSchedulesFromVersion2}, {L"3", &SQLite::UpdateSchedulesFromVersion3},
        {L"4", &SQLite::UpdateSchedulesFromVersion4}, {L"5", &SQLite::UpdateSchedulesFromVersion5},
        {L"6", &SQLite::UpdateSchedulesFromVersion6}};
    const std::wstring version = query.getVersion();
    for (const auto& [from, step] : steps) {
      if (version != from) continue;
      LogInfo(L"Updating database from version %ls", from);
      (query.*step)();
      break;
    }
  }
  // Like the indexes, a failure here costs a feature, not the start.
  query.AddIndexes();
  EpisodeMarks::Prepare(query);
  query.CreateSideTables();
  return true;
}

void Database::Close() {
  std::vector<std::future<bool>> syncs;
  {
    PMutexLock lock(mutex_);
    syncs.swap(rebuildableSyncs_);
  }
  WaitFor(std::move(syncs));
  PMutexLock lock(mutex_);
  CloseLocked();
}

void Database::FailStatementsAfter(int successes) {
  PMutexLock lock(mutex_);
  faultCountdown_ = successes < 0 ? -1 : successes;
}

void Database::ObserveStatements(std::function<void(const std::string&)> observer) {
  PMutexLock lock(mutex_);
  observer_ = std::move(observer);
}

void Database::WaitForOtherTransactionsLocked() {
  while (transactionDepth_ > 0 && !pthread_equal(transactionOwner_, pthread_self())) {
    pthread_cond_wait(&transactionEnded_, mutex_.native());
  }
}

bool transaction_gate::Enter() {
  Database::Hold hold(nullptr);
  Database* db = hold.get();
  if (db == nullptr) return true;  // its "begin" fails: there is no database
  db->AssertHeld();
  db->WaitForOtherTransactionsLocked();
  if (db->transactionDepth_++ > 0) return false;
  db->transactionOwner_ = pthread_self();
  return true;
}

void transaction_gate::Leave() {
  Database::Hold hold(nullptr);
  Database* db = hold.get();
  if (db == nullptr) return;
  db->AssertHeld();
  if (db->transactionDepth_ > 0 && --db->transactionDepth_ == 0) {
    pthread_cond_broadcast(&db->transactionEnded_);
  }
}

bool Database::StartLogSyncLocked(std::future<bool>* sync) {
  if (connection_ == nullptr || !wal_) return false;
  const char* file = sqlite3_db_filename(connection_, "main");
  if (file == nullptr || *file == '\0') return false;
  // A descriptor of its own: the file's pages are the same, and SQLite's
  // file object is not touched outside the database lock.
  return logSyncer_.Begin(std::string(file) + "-wal", sync);
}

bool Database::WaitFor(std::vector<std::future<bool>> syncs) {
  bool all = true;
  for (std::future<bool>& sync : syncs) {
    if (sync.get()) continue;
    LogError(L"GroupSync: the write-ahead log could not be synced");
    all = false;
  }
  return all;
}

GroupSync::GroupSync() {
  if (t_group.depth++ == 0) t_group.changed = false;
}

GroupSync::~GroupSync() {
  if (--t_group.depth > 0) return;
  bool backgroundFailed = false;
  for (std::future<bool>& sync : t_group.backgroundSyncs) backgroundFailed |= !sync.get();
  t_group.backgroundSyncs.clear();
  if (!t_group.changed && !backgroundFailed) return;
  t_group.changed = false;
  bool synced = true;
  {
    Database::Hold hold(nullptr);
    Database* db = hold.get();
    if (db == nullptr) return;
    db->AssertHeld();
    if (db->connection_ == nullptr || !db->wal_) return;
    // The log's own sync, as a commit with synchronous=FULL runs it.
    sqlite3_file* log = nullptr;
    if (sqlite3_file_control(db->connection_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) ==
            SQLITE_OK &&
        log != nullptr && log->pMethods != nullptr) {
      synced = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) == SQLITE_OK;
    }
  }
  if (!synced) LogError(L"GroupSync: the write-ahead log could not be synced");
}

namespace {

// Begins an fdatasync of the default database's log as it stands on
// another thread; false (nothing begun) without a log or a thread.
bool StartLogSync(std::future<bool>* sync) {
  Database::Hold hold(nullptr);
  Database* db = hold.get();
  if (db == nullptr) return false;
  db->AssertHeld();
  return db->StartLogSyncLocked(sync);
}

}  // namespace

void GroupSync::SyncInBackground() {
  if (t_group.depth == 0 || !t_group.changed) return;
  std::future<bool> sync;
  if (!StartLogSync(&sync)) return;  // the end of the scope syncs it all
  t_group.backgroundSyncs.push_back(std::move(sync));
  // What is committed from here on is synced by the end of the scope.
  t_group.changed = false;
}

GroupSync::Rebuildable::Rebuildable() {
  if (t_group.rebuildableDepth++ == 0) t_group.rebuildableChanged = false;
}

GroupSync::Rebuildable::~Rebuildable() {
  if (--t_group.rebuildableDepth > 0 || !t_group.rebuildableChanged) return;
  t_group.rebuildableChanged = false;
  std::future<bool> sync;
  if (!StartLogSync(&sync)) {
    t_group.changed = true;  // the group's end syncs them with the rest
    return;
  }
  int failed = 0;
  {
    Database::Hold hold(nullptr);
    Database* db = hold.get();
    // Without the database (it was closed meanwhile) nobody waits for it.
    if (db == nullptr) return;
    db->AssertHeld();
    // The finished ones go, so that the list stays short.
    std::vector<std::future<bool>>& syncs = db->rebuildableSyncs_;
    for (auto it = syncs.begin(); it != syncs.end();) {
      if (it->wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        ++it;
        continue;
      }
      if (!it->get()) ++failed;
      it = syncs.erase(it);
    }
    syncs.push_back(std::move(sync));
  }
  for (; failed > 0; --failed) LogError(L"GroupSync: the write-ahead log could not be synced");
}

bool GroupSync::WaitForRebuildableSyncs() {
  std::vector<std::future<bool>> syncs;
  {
    Database::Hold hold(nullptr);
    if (Database* db = hold.get()) {
      db->AssertHeld();
      syncs.swap(db->rebuildableSyncs_);
    }
  }
  return Database::WaitFor(std::move(syncs));
}
