// The module's database: one SQLite connection to "<folder>/TevPVR.db" with
// its prepared statements, its open transaction, its group syncs and its
// fault and statement hooks. The module makes one at start and destroys it
// at stop; a test makes its own on its temporary folder.
//
// Query objects (db/SQLite.h) run on the database they are given, or on the
// default one: the Database made last and not yet destroyed. So do
// Transaction and GroupSync.
//
// Every open and every statement holds the database's lock for exactly
// that call, never longer. Any thread.
#ifndef TEV_DB_DATABASE_H_
#define TEV_DB_DATABASE_H_

#include <pthread.h>

#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "db/LogSyncer.h"
#include "db/StatementCache.h"
#include "support/PMutex.h"

struct sqlite3;

namespace transaction_gate {
bool Enter();
void Leave();
}  // namespace transaction_gate

class Database {
 public:
  // No file is touched until Open (or the first statement). Becomes the
  // default database.
  explicit Database(std::wstring folder);
  // Stops being the default, waits for the holds on it, a Config write in
  // progress and the syncs Rebuildable scopes began, and closes the
  // connection.
  ~Database();

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens or creates "<folder>/TevPVR.db" and brings an older file up to
  // the current schema (version 7). Creates the folder (and missing
  // parents) when it is not a directory. Returns false when the file cannot
  // be opened as a database ("Can't open database: ..." logged at ERROR);
  // the file is then left exactly as it was, and the next statement tries
  // again. An existing file of zero bytes is treated as a new database.
  bool Open();
  // Closes the connection; the next statement opens it again.
  void Close();
  const std::wstring& Folder() const { return folder_; }

  // After `successes` more successful statements, every later statement
  // fails ("injected fault") until disarmed with a negative value. A
  // "rollback" still runs, so that what a failed operation leaves shows.
  void FailStatementsAfter(int successes);
  // Hands every statement that runs from now on to `observer`, as SQLite
  // gets it (column-list rewrite and LimitRows' limit applied), on the
  // running thread once it has run, with no lock held. An empty function
  // ends it.
  void ObserveStatements(std::function<void(const std::string&)> observer);

  // Holds the lock of `db`, or of the default database when `db` is null
  // (nothing held when there is none), for its scope; get() is the
  // database held. The default is picked and locked in one step, so a
  // database being destroyed is never picked half-way.
  class Hold {
   public:
    explicit Hold(Database* db) TEV_NO_THREAD_SAFETY_ANALYSIS;
    ~Hold() TEV_NO_THREAD_SAFETY_ANALYSIS;
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Database* get() const { return db_; }

   private:
    Database* db_;
  };
  // Tells the lock analysis what a Hold on this database established.
  void AssertHeld() const TEV_ASSERT_CAPABILITY(mutex_) {}

  // Runs `write` with the Config-write lock held, so that a read-then-insert
  // of a setting is one step for this process. Taken before any database's
  // lock, never across a bus request.
  static void WithConfigWriteLock(const std::function<void()>& write);

  // A thread's GroupSync state (db/GroupSync.h): how deep its scopes are,
  // whether its statements changed rows since the outermost one (or a
  // Rebuildable one) began, and the log syncs it began on another thread.
  struct ThreadGroup {
    int depth = 0;
    bool changed = false;
    int rebuildableDepth = 0;
    bool rebuildableChanged = false;
    std::vector<std::future<bool>> backgroundSyncs;
  };
  static ThreadGroup& ThisThreadGroup();
  // Begins syncing the write-ahead log as it stands on another thread;
  // false (nothing begun) without a log or a thread.
  bool StartLogSyncLocked(std::future<bool>* sync) TEV_REQUIRES(mutex_);

  // What the recording settings (db/RecordingSettings.h) keep of the Config
  // table: it goes with the file it was read from.
  struct SettingsCache {
    int64_t freeSpaceRequired = 0;
    std::wstring padding;
  };
  // Calls `use` on the default database's cache under its lock (no
  // statement may run in it); without a database, on an empty cache that
  // is then forgotten.
  static void WithSettings(const std::function<void(SettingsCache&)>& use);

 private:
  friend class SQLite;
  friend class GroupSync;
  friend bool transaction_gate::Enter();
  friend void transaction_gate::Leave();

  std::wstring FilePath() const;
  // Opens the connection. On failure leaves it absent and returns false
  // with the engine's error text.
  bool OpenLocked(std::string* error) TEV_REQUIRES(mutex_);
  bool OpenLogged();
  void CloseLocked() TEV_REQUIRES(mutex_);
  // Waits while another thread's transaction is open, so that no statement
  // of this thread falls inside it.
  void WaitForOtherTransactionsLocked() TEV_REQUIRES(mutex_);
  // Waits for the syncs Rebuildable scopes began; false when one failed
  // (logged).
  static bool WaitFor(std::vector<std::future<bool>> syncs);

  const std::wstring folder_;
  // Serialises every statement and open; the rest is guarded by it.
  mutable PMutex mutex_{false};
  sqlite3* connection_ TEV_GUARDED_BY(mutex_) = nullptr;
  // Prepared statements of connection_; cleared before it closes. The
  // module's statements are some 150 fixed texts (IN lists add a few sizes).
  StatementCache statements_ TEV_GUARDED_BY(mutex_){256};
  // The connection writes a write-ahead log (group syncs need one), and its
  // commits currently skip the sync (for a thread inside a GroupSync).
  bool wal_ TEV_GUARDED_BY(mutex_) = false;
  bool relaxed_ TEV_GUARDED_BY(mutex_) = false;
  // Statements that may still succeed before injected failures start; -1 off.
  int faultCountdown_ TEV_GUARDED_BY(mutex_) = -1;
  std::function<void(const std::string&)> observer_ TEV_GUARDED_BY(mutex_);
  // The thread whose transaction (db/Transaction.h) is open, and how many
  // scopes deep; other threads' statements wait on transactionEnded_.
  pthread_t transactionOwner_ TEV_GUARDED_BY(mutex_){};
  int transactionDepth_ TEV_GUARDED_BY(mutex_) = 0;
  pthread_cond_t transactionEnded_ = PTHREAD_COND_INITIALIZER;
  // Runs the background syncs of this database's log.
  LogSyncer logSyncer_;
  // Syncs begun by Rebuildable scopes: only the end waits for them.
  std::vector<std::future<bool>> rebuildableSyncs_ TEV_GUARDED_BY(mutex_);
  SettingsCache settings_ TEV_GUARDED_BY(mutex_);
};

#endif  // TEV_DB_DATABASE_H_
