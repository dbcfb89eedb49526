#include "db/StatementCache.h"

#include <sqlite3.h>

namespace {

bool OnlySpaceOrSemicolons(const char* p) {
  for (; p != nullptr && *p != '\0'; ++p) {
    const char c = *p;
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != ';') {
      return false;
    }
  }
  return true;
}

}  // namespace

StatementCache::StatementCache(size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

StatementCache::~StatementCache() { Clear(); }

sqlite3_stmt* StatementCache::Acquire(sqlite3* db, const std::string& text,
                                      std::string (*expand)(const std::string&),
                                      std::string* error) {
  error->clear();
  auto found = entries_.find(text);
  if (found != entries_.end()) {
    if (found->second.age != ages_.begin()) ages_.splice(ages_.begin(), ages_, found->second.age);
    return found->second.statement;
  }
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  const std::string sql = expand != nullptr ? expand(text) : text;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()) + 1,
                         SQLITE_PREPARE_PERSISTENT, &statement, &tail) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    return nullptr;
  }
  if (statement == nullptr || !OnlySpaceOrSemicolons(tail)) {
    sqlite3_finalize(statement);
    return nullptr;  // no statement, or several: the caller runs the text itself
  }
  if (entries_.size() >= capacity_) {
    const std::string* oldest = ages_.back();
    ages_.pop_back();
    auto old = entries_.find(*oldest);
    sqlite3_finalize(old->second.statement);
    entries_.erase(old);
  }
  found = entries_.emplace(text, Entry{statement, ages_.end()}).first;
  ages_.push_front(&found->first);
  found->second.age = ages_.begin();
  return statement;
}

void StatementCache::Release(sqlite3_stmt* statement) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

void StatementCache::Clear() {
  for (auto& entry : entries_) sqlite3_finalize(entry.second.statement);
  entries_.clear();
  ages_.clear();
}
