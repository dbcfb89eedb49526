// One commit for a group of statements that belong to one operation: with
// a synchronous disk every commit waits for the disk, so a loop of writes
// costs one wait instead of one per row.
//
// The connection is shared by every thread, so while a transaction is open
// other threads' statements wait for it to end rather than fall inside it.
// Nested transactions of the thread join the outermost one.
//
// REQUIRES: nothing inside the scope waits for another thread that may run
// a statement: no bus request, no engine lock taken. Any thread.
#ifndef TEV_DB_TRANSACTION_H_
#define TEV_DB_TRANSACTION_H_

#include <string>

class SQLiteTransaction {
 public:
  // Runs "begin" (the outermost one only). When that fails the statements
  // of the scope commit one by one as without it.
  explicit SQLiteTransaction(const std::wstring& caller);
  // Runs "commit" (a failed commit is rolled back and logged by RunQuery).
  ~SQLiteTransaction();

  SQLiteTransaction(const SQLiteTransaction&) = delete;
  SQLiteTransaction& operator=(const SQLiteTransaction&) = delete;

 private:
  std::wstring caller_;
  bool outermost_ = false;
  bool begun_ = false;
};

namespace transaction_gate {
// Kept with the connection (db/SQLite.cpp). Enter makes this thread the
// owner of the open transaction, waiting while another thread owns one;
// true for the outermost scope. Leave ends one scope; the outermost wakes
// the statements that waited.
bool Enter();
void Leave();
}  // namespace transaction_gate

#endif  // TEV_DB_TRANSACTION_H_
