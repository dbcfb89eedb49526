// Prepared statements kept across runs of the same statement shape.
//
// The module writes its values into the statement text, so most statements
// differ from the last run of the same code only in their literals; for
// SQLite, parsing and planning such a statement (a 25-column list, an OR of
// time ranges weighed against every index) costs several times what
// running it does. A statement's shape is its text with each literal in a
// value position replaced by "?": the cache prepares a shape once and binds
// each run's literals to it. A literal bound to a "?" compares, converts
// and sorts exactly as the literal written in the text (neither has an
// affinity), so the rows are those the text itself would give.
//
// Only values are taken out: literals after WHERE, SET (right of "=") and
// VALUES, never those of a select list (they name result columns), ORDER
// BY, GROUP BY or LIMIT (a number there is a column or a count), the
// pattern of LIKE/GLOB/REGEXP/MATCH/ESCAPE (SQLite plans around a literal
// pattern), an INSERT column list or a SET column written in quotes (those
// are names), blobs, and numbers other than plain 64-bit integers.
//
// Thread: the cache belongs to one connection and is used under that
// connection's lock (db/SQLite.cpp); Lift touches no shared state.
#ifndef TEV_DB_STATEMENTCACHE_H_
#define TEV_DB_STATEMENTCACHE_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace statement_shape {

// One literal taken out of a statement, in text order.
struct Literal {
  bool isText = false;
  std::string text;    // isText: the value, quotes removed and '' undone
  int64_t number = 0;  // otherwise
};

// The shape of `sql` and its literals. False when the cache does not take
// the statement: it is not one SELECT, INSERT, UPDATE, DELETE or REPLACE,
// holds its own parameters or a comment, or its text is cut short.
bool Lift(const std::string& sql, std::string* shape, std::vector<Literal>* literals);

}  // namespace statement_shape

class StatementCache {
 public:
  // Keeps at most `capacity` shapes, dropping the least recently used.
  explicit StatementCache(size_t capacity);
  ~StatementCache();

  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The prepared statement of `shape` on `db` with `literals` bound, ready
  // to step; nullptr when the shape does not prepare as exactly one
  // statement with one parameter per literal (remembered, so the shape is
  // not tried again; the caller then runs the original text). After
  // stepping, the caller hands the statement to Release. `expand`, when
  // given, turns the shape into the text to prepare (the shape is then
  // only the key, and expand runs on the first use alone).
  sqlite3_stmt* Acquire(sqlite3* db, const std::string& shape,
                        const std::vector<statement_shape::Literal>& literals,
                        std::string (*expand)(const std::string&) = nullptr);
  // Resets the statement and drops its bindings.
  static void Release(sqlite3_stmt* statement);
  // Finalizes every statement; required before the connection closes.
  void Clear();
  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    sqlite3_stmt* statement;  // nullptr: the shape does not prepare
    std::list<const std::string*>::iterator age;
  };
  size_t capacity_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<const std::string*> ages_;  // keys of entries_, most recent first
};

#endif  // TEV_DB_STATEMENTCACHE_H_
