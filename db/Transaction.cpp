#include "db/Transaction.h"

#include "db/SQLite.h"

SQLiteTransaction::SQLiteTransaction(const std::wstring& caller) : caller_(caller) {
  outermost_ = transaction_gate::Enter();
  if (outermost_) begun_ = SQLite().RunQuery(L"begin", caller_);
}

SQLiteTransaction::~SQLiteTransaction() {
  if (begun_) {
    SQLite end;
    if (!end.RunQuery(L"commit", caller_)) end.RunQuery(L"rollback", caller_);
  }
  transaction_gate::Leave();
}
