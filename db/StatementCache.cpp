#include "db/StatementCache.h"

#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

// Character classes, one table lookup each: every statement is scanned
// on the way to the database.
enum : unsigned char { kStart = 1, kDigit = 2, kPart = 4, kSpace = 8 };

struct Classes {
  unsigned char of[256] = {};
  Classes() {
    for (int c = 0; c < 256; ++c) {
      const bool start = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
      const bool digit = c >= '0' && c <= '9';
      const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
      of[c] = static_cast<unsigned char>((start ? kStart : 0) | (digit ? kDigit : 0) |
                                         (start || digit || c == '$' ? kPart : 0) |
                                         (space ? kSpace : 0));
    }
  }
};
const Classes kClasses;

bool IsIdentifierStart(unsigned char c) { return (kClasses.of[c] & kStart) != 0; }
bool IsDigit(unsigned char c) { return (kClasses.of[c] & kDigit) != 0; }
bool IsIdentifierPart(unsigned char c) { return (kClasses.of[c] & kPart) != 0; }
bool IsSpace(unsigned char c) { return (kClasses.of[c] & kSpace) != 0; }

bool EqualsNoCase(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != keyword[i]) return false;
  }
  return true;
}

// What a keyword does to the literals after it.
enum class Role { kNone, kValues, kSetList, kNoValues, kPattern };

struct Keyword {
  std::string_view word;
  Role role;
};

const Keyword kKeywords[] = {
    {"WHERE", Role::kValues},       {"VALUES", Role::kValues},      {"HAVING", Role::kValues},
    {"SET", Role::kSetList},        {"SELECT", Role::kNoValues},    {"FROM", Role::kNoValues},
    {"ORDER", Role::kNoValues},     {"GROUP", Role::kNoValues},     {"LIMIT", Role::kNoValues},
    {"OFFSET", Role::kNoValues},    {"RETURNING", Role::kNoValues}, {"WINDOW", Role::kNoValues},
    {"OVER", Role::kNoValues},      {"PARTITION", Role::kNoValues}, {"LIKE", Role::kPattern},
    {"GLOB", Role::kPattern},       {"REGEXP", Role::kPattern},     {"MATCH", Role::kPattern},
    {"ESCAPE", Role::kPattern},
};

Role RoleOf(std::string_view word) {
  if (word.size() < 3 || word.size() > 9) return Role::kNone;
  char first = word[0];
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
  for (const Keyword& keyword : kKeywords) {
    if (keyword.word.size() == word.size() && keyword.word[0] == first &&
        EqualsNoCase(word, keyword.word)) {
      return keyword.role;
    }
  }
  return Role::kNone;
}

bool StartsStatement(std::string_view word) {
  for (std::string_view start : {"SELECT", "INSERT", "UPDATE", "DELETE", "REPLACE"}) {
    if (EqualsNoCase(word, start)) return true;
  }
  return false;
}

// The next character at or after `at` that is not white space, or 0.
char NextSignificant(const std::string& sql, size_t at) {
  while (at < sql.size() && IsSpace(static_cast<unsigned char>(sql[at]))) ++at;
  return at < sql.size() ? sql[at] : '\0';
}

// Decimal digits only, within int64.
bool ParseInteger(std::string_view digits, int64_t* value) {
  if (digits.empty() || digits.size() > 19) return false;
  uint64_t result = 0;
  for (char c : digits) {
    if (!IsDigit(static_cast<unsigned char>(c))) return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > static_cast<uint64_t>(INT64_MAX)) return false;
  *value = static_cast<int64_t>(result);
  return true;
}

// Scans the quoted text opening at `at` (quote `q`, doubled inside) and
// returns the position after its close, or npos when it is not closed.
// `value` (may be null) gets the text between the quotes, undoubled.
size_t SkipQuoted(const std::string& sql, size_t at, char q, std::string* value) {
  size_t j = at + 1;
  while (true) {
    const size_t quote = sql.find(q, j);
    if (quote == std::string::npos) return std::string::npos;
    if (value != nullptr) value->append(sql, j, quote - j);
    if (quote + 1 < sql.size() && sql[quote + 1] == q) {
      if (value != nullptr) *value += q;
      j = quote + 2;
      continue;
    }
    return quote + 1;
  }
}

}  // namespace

namespace statement_shape {

bool Lift(const std::string& sql, std::string* shape, std::vector<Literal>* literals) {
  shape->clear();
  literals->clear();
  shape->reserve(sql.size());
  const size_t n = sql.size();
  bool first = true;         // no word seen yet
  bool lifting = false;      // inside a value position
  bool setList = false;      // between SET and the next clause
  bool patternNext = false;  // the next token is a LIKE-style pattern or escape
  bool afterSet = false;     // the last token was SET
  char previous = '\0';      // the last token: its punctuation, 'w' a word, 'l' a literal
  // The shape is the text with each taken literal [from, to) replaced.
  size_t copied = 0;
  auto take = [&](size_t from, size_t to) {
    shape->append(sql, copied, from - copied);
    *shape += '?';
    copied = to;
  };
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(sql[i]);
    if (IsSpace(c)) {
      ++i;
      continue;
    }
    if (first && !IsIdentifierStart(c)) return false;
    const bool pattern = patternNext;
    const bool setBefore = afterSet;
    patternNext = false;
    afterSet = false;
    if (c == '\'') {
      std::string value;
      const size_t j = SkipQuoted(sql, i, '\'', &value);
      if (j == std::string::npos) return false;
      // A quoted name: a SET column ("SET 'Status' = ...").
      const bool name = setList && (previous == ',' || setBefore) && NextSignificant(sql, j) == '=';
      // x'..' is a blob.
      const bool blob = i > 0 && IsIdentifierPart(static_cast<unsigned char>(sql[i - 1]));
      if (lifting && !pattern && !name && !blob) {
        take(i, j);
        Literal literal;
        literal.isText = true;
        literal.text = std::move(value);
        literals->push_back(std::move(literal));
      }
      previous = 'l';
      i = j;
      continue;
    }
    if (c == '"' || c == '`' || c == '[') {
      size_t j;
      if (c == '[') {
        j = sql.find(']', i);
        if (j != std::string::npos) ++j;
      } else {
        j = SkipQuoted(sql, i, static_cast<char>(c), nullptr);
      }
      if (j == std::string::npos) return false;
      previous = 'w';
      i = j;
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(static_cast<unsigned char>(sql[i + 1])))) {
      const bool hex = c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X');
      size_t j = i;
      while (j < n) {
        const unsigned char d = static_cast<unsigned char>(sql[j]);
        const bool exponentSign =
            (d == '+' || d == '-') && !hex && (sql[j - 1] == 'e' || sql[j - 1] == 'E');
        if (!IsIdentifierPart(d) && d != '.' && !exponentSign) break;
        ++j;
      }
      const std::string_view token(sql.data() + i, j - i);
      int64_t value = 0;
      if (lifting && !pattern && ParseInteger(token, &value)) {
        take(i, j);
        Literal literal;
        literal.number = value;
        literals->push_back(std::move(literal));
      }
      previous = 'l';
      i = j;
      continue;
    }
    if (IsIdentifierStart(c)) {
      size_t j = i;
      while (j < n && IsIdentifierPart(static_cast<unsigned char>(sql[j]))) ++j;
      const std::string_view word(sql.data() + i, j - i);
      if (first) {
        if (!StartsStatement(word)) return false;
        first = false;
      }
      const Role role = RoleOf(word);
      if (role == Role::kValues || role == Role::kSetList) {
        lifting = true;
        setList = role == Role::kSetList;
      } else if (role == Role::kNoValues) {
        lifting = false;
        setList = false;
      } else if (role == Role::kPattern) {
        patternNext = true;
      }
      afterSet = role == Role::kSetList;
      previous = 'w';
      i = j;
      continue;
    }
    if (c == '?' || c == ':' || c == '@' || c == '$' || c == '#') return false;  // own parameters
    const char next = i + 1 < n ? sql[i + 1] : '\0';
    if ((c == '-' && next == '-') || (c == '/' && next == '*')) return false;  // comments
    if (c == ';') {
      for (size_t j = i + 1; j < n; ++j) {
        if (!IsSpace(static_cast<unsigned char>(sql[j]))) return false;  // a second statement
      }
      break;
    }
    ++i;
    previous = static_cast<char>(c);
  }
  if (first) return false;
  shape->append(sql, copied, std::string::npos);
  return true;
}

}  // namespace statement_shape

StatementCache::StatementCache(size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

StatementCache::~StatementCache() { Clear(); }

sqlite3_stmt* StatementCache::Acquire(sqlite3* db, const std::string& shape,
                                      const std::vector<statement_shape::Literal>& literals,
                                      std::string (*expand)(const std::string&)) {
  auto found = entries_.find(shape);
  if (found == entries_.end()) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    const std::string text = expand != nullptr ? expand(shape) : shape;
    if (sqlite3_prepare_v3(db, text.c_str(), static_cast<int>(text.size()) + 1,
                           SQLITE_PREPARE_PERSISTENT, &statement, &tail) != SQLITE_OK) {
      statement = nullptr;
    }
    if (statement != nullptr) {
      bool rest = false;
      for (const char* p = tail; p != nullptr && *p != '\0'; ++p) {
        if (!IsSpace(static_cast<unsigned char>(*p)) && *p != ';') rest = true;
      }
      if (rest || sqlite3_bind_parameter_count(statement) != static_cast<int>(literals.size())) {
        sqlite3_finalize(statement);
        statement = nullptr;
      }
    }
    if (entries_.size() >= capacity_) {
      const std::string* oldest = ages_.back();
      ages_.pop_back();
      auto old = entries_.find(*oldest);
      if (old->second.statement != nullptr) sqlite3_finalize(old->second.statement);
      entries_.erase(old);
    }
    found = entries_.emplace(shape, Entry{statement, ages_.end()}).first;
    ages_.push_front(&found->first);
    found->second.age = ages_.begin();
  } else if (found->second.age != ages_.begin()) {
    ages_.splice(ages_.begin(), ages_, found->second.age);
  }
  sqlite3_stmt* statement = found->second.statement;
  if (statement == nullptr) return nullptr;
  for (size_t k = 0; k < literals.size(); ++k) {
    const statement_shape::Literal& literal = literals[k];
    const int slot = static_cast<int>(k) + 1;
    const int rc = literal.isText
                       ? sqlite3_bind_text(statement, slot, literal.text.data(),
                                           static_cast<int>(literal.text.size()), SQLITE_STATIC)
                       : sqlite3_bind_int64(statement, slot, literal.number);
    if (rc != SQLITE_OK) {
      Release(statement);
      return nullptr;
    }
  }
  return statement;
}

void StatementCache::Release(sqlite3_stmt* statement) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

void StatementCache::Clear() {
  for (auto& entry : entries_) {
    if (entry.second.statement != nullptr) sqlite3_finalize(entry.second.statement);
  }
  entries_.clear();
  ages_.clear();
}
