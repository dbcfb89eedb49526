#include "passes/Transaction.h"

#include "db/SQLite.h"

Transaction::Transaction(const wchar_t* caller) : caller_(caller) {
  SQLite begin;
  active_ = begin.Begin(caller_);
}

Transaction::~Transaction() { Rollback(); }

bool Transaction::Commit() {
  if (!active_) return true;
  SQLite commit;
  if (commit.Commit(caller_)) {
    active_ = false;
    return true;
  }
  Rollback();
  return false;
}

void Transaction::Rollback() {
  if (!active_) return;
  active_ = false;
  SQLite rollback;
  rollback.RunQuery(L"rollback", caller_);
}
