// One transaction on the module's database connection, for the pass
// operations whose statements must land together (and, for an episode
// search, to commit its many rows once). The connection is shared:
// statements other threads run meanwhile join the transaction, and a second
// "begin" while one is open fails (Active() is false then and the
// statements commit one by one).
#ifndef TEV_PASSES_TRANSACTION_H_
#define TEV_PASSES_TRANSACTION_H_

class Transaction {
 public:
  // Runs "begin"; Active() says whether it worked.
  explicit Transaction(const wchar_t* caller);
  // Rolls back unless committed.
  ~Transaction();
  bool Active() const { return active_; }
  // Commits; when that fails, rolls back and returns false. True without
  // an active transaction (the statements were committed one by one).
  bool Commit();
  void Rollback();

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  const wchar_t* caller_;
  bool active_;
};

#endif  // TEV_PASSES_TRANSACTION_H_
