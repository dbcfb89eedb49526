// Prepared statements kept across runs, keyed by their text.
//
// Every statement of the module is a fixed text with placeholders; its
// values are bound at each run. Parsing and planning such a statement (a
// 25-column list, an OR of time ranges weighed against every index) costs
// several times what running it does, so each text is prepared once
// (persistent) and reused with new bindings.
//
// Thread: the cache belongs to one connection and is used under that
// connection's lock (db/SQLite.cpp).
#ifndef TEV_DB_STATEMENTCACHE_H_
#define TEV_DB_STATEMENTCACHE_H_

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

class StatementCache {
 public:
  // Keeps at most `capacity` statements, dropping the least recently used.
  explicit StatementCache(size_t capacity);
  ~StatementCache();

  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The prepared statement of `text` on `db`, without bindings, ready to
  // bind and step; after stepping the caller hands it to Release. nullptr
  // with `error` set when the text does not prepare, and nullptr with
  // `error` empty when it holds more than one statement (those are not
  // kept). `expand`, when given, turns the text into what is prepared (the
  // text is then only the key).
  sqlite3_stmt* Acquire(sqlite3* db, const std::string& text, std::string (*expand)(const std::string&),
                        std::string* error);
  // Resets the statement and drops its bindings.
  static void Release(sqlite3_stmt* statement);
  // Finalizes every statement; required before the connection closes.
  void Clear();
  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    sqlite3_stmt* statement;
    std::list<const std::string*>::iterator age;
  };
  size_t capacity_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<const std::string*> ages_;  // keys of entries_, most recent first
};

#endif  // TEV_DB_STATEMENTCACHE_H_
