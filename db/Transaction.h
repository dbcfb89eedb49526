// One transaction for a group of statements that belong to one operation:
// they land together, and with a synchronous disk a loop of writes waits
// for the disk once instead of once per row.
//
// The connection is shared by every thread, so while a transaction is open
// other threads' statements wait for it to end rather than fall inside it
// (where a rollback would undo them). The engine lock is held for the whole
// scope: a thread holding it may run statements, and the scope's own code
// may take it, so taking it first keeps the two from waiting on each other.
// A scope nested in another of the same thread joins the outer one. The
// scope ends at Commit or Rollback (or destruction, which rolls back).
//
// REQUIRES: nothing inside the scope waits for another thread that runs a
// statement or takes the engine lock. Any thread.
#ifndef TEV_DB_TRANSACTION_H_
#define TEV_DB_TRANSACTION_H_

class PMutex;

class Transaction {
 public:
  // Runs "begin" for the outermost scope. Active() says whether the
  // scope's statements land together: false when "begin" failed, and
  // they then commit one by one.
  // `engineLock` is the engine's lock, held for the scope.
  Transaction(PMutex& engineLock, const wchar_t* caller);
  // For a scope that runs statements only (it takes no engine lock, so it
  // needs none to keep from waiting on a thread that holds it).
  explicit Transaction(const wchar_t* caller);
  // Rolls back unless committed.
  ~Transaction();
  bool Active() const { return begun_ || joined_; }
  // Commits and ends the scope; when that fails, rolls back and returns
  // false. A nested scope commits with the outer one.
  bool Commit();
  // Undoes the scope's statements and ends the scope. A nested scope's
  // statements stay with the outer one's outcome.
  void Rollback();

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  void Open();
  void End();

  PMutex* const engineLock_;  // null: none
  const wchar_t* caller_;
  bool begun_ = false;   // this scope ran "begin"
  bool joined_ = false;  // nested in an open transaction of this thread
  bool ended_ = false;
};

namespace transaction_gate {
// Kept with the default database (db/Database.cpp). Enter makes this thread the
// owner of the open transaction, waiting while another thread owns one;
// true for the outermost scope. Leave ends one scope; the outermost wakes
// the statements that waited.
bool Enter();
void Leave();
}  // namespace transaction_gate

#endif  // TEV_DB_TRANSACTION_H_
