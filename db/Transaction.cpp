#include "db/Transaction.h"

#include "db/SQLite.h"
#include "support/PMutex.h"

// The engine lock is held from construction to End, across calls, which
// the lock checker cannot follow.
Transaction::Transaction(PMutex& engineLock, const wchar_t* caller) TEV_NO_THREAD_SAFETY_ANALYSIS
    : engineLock_(&engineLock), caller_(caller) {
  engineLock_->lock();
  Open();
}

Transaction::Transaction(const wchar_t* caller) : engineLock_(nullptr), caller_(caller) { Open(); }

void Transaction::Open() {
  if (transaction_gate::Enter()) {
    begun_ = SQLite().Begin(caller_);
  } else {
    joined_ = true;
  }
}

Transaction::~Transaction() { Rollback(); }

bool Transaction::Commit() {
  if (ended_) return true;
  if (begun_ && !SQLite().Commit(caller_)) {
    Rollback();
    return false;
  }
  begun_ = false;
  End();
  return true;
}

void Transaction::Rollback() {
  if (ended_) return;
  // A nested scope leaves its statements to the outer one's outcome.
  if (begun_) SQLite().RunQuery("rollback", caller_);
  begun_ = false;
  End();
}

void Transaction::End() TEV_NO_THREAD_SAFETY_ANALYSIS {
  ended_ = true;
  transaction_gate::Leave();
  if (engineLock_ != nullptr) engineLock_->unlock();
}
