#include "db/SQLite.h"

#include <sqlite3.h>


#include <climits>
#include <cstring>
#include <filesystem>
#include <vector>

#include "db/Database.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "platform/Clock.h"
#include "platform/Folders.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kSeparator = L'/';

struct ColumnListRewrite {
  const char* prefix;
  const char* columns;
};

const ColumnListRewrite kRewrites[] = {
    {"SELECT * FROM Schedules",
     "SELECT ID, User, Type, Status, ChannelName, ChannelMimetype, Channel, Owner, StartTime, "
     "EndTime, Duration, Name, Category, EpisodeTitle, EpisodeUrl, Description, FilePath, "
     "Quality, Tuner, Subtitle, KeepUntil, PlayPosition, StartPadding, EndPadding, TevMediumId "
     "FROM Schedules"},
    {"SELECT * FROM SeasonPasses",
     "SELECT ID, User, Priority, Category, ProgramName, RestrictToOneChannel, ChannelName, "
     "ChannelMimetype, ChannelMedium, Quality, ScheduleMode, StartDate, LastSearched, KeepUntil, "
     "Duration, GuideType, StartPadding, EndPadding, TevMediumId FROM SeasonPasses"},
    {"SELECT * FROM Config", "SELECT Key, Value FROM Config"},
};

// `sql` with each "?" outside quotes replaced by its value as a literal, for
// the log and the statement observer.
std::string WithValuesWrittenIn(const std::string& sql, const std::vector<SqlValue>& values) {
  std::string text;
  text.reserve(sql.size());
  size_t next = 0;
  char quote = '\0';
  for (char c : sql) {
    if (quote != '\0') {
      if (c == quote) quote = '\0';
      text += c;
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (c != '?' || next >= values.size()) {
      text += c;
      continue;
    }
    const SqlValue& value = values[next++];
    switch (value.kind()) {
      case SqlValue::Kind::kNull:
        text += "NULL";
        break;
      case SqlValue::Kind::kInteger:
        text += std::to_string(value.number());
        break;
      case SqlValue::Kind::kText:
        text += '\'';
        for (char t : value.text()) {
          text += t;
          if (t == '\'') text += '\'';
        }
        text += '\'';
        break;
    }
  }
  return text;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char a = static_cast<unsigned char>(text[i]);
    unsigned char b = static_cast<unsigned char>(prefix[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

SqlValue::SqlValue(const std::wstring& text) : kind_(Kind::kText), text_(tev::WideToUtf8(text)) {}

SqlValue::SqlValue(const wchar_t* text) : SqlValue(std::wstring(text)) {}

SqlValue SqlValue::Utf8(std::string text) {
  SqlValue value;
  value.kind_ = Kind::kText;
  value.text_ = std::move(text);
  return value;
}

SqlValue SqlValue::Time(int64_t t) { return SqlValue(FormatTime3(t)); }

SqlValue SqlValue::TimeNumber(int64_t t) {
  return SqlValue(static_cast<int64_t>(std::stoll(tev::WideToUtf8(FormatTime3(t)))));
}

SQLite::SQLite() = default;

SQLite::~SQLite() { FreeResult(); }

void SQLite::FreeResult() {
  if (result_ != nullptr) {
    sqlite3_free_table(result_);
    result_ = nullptr;
  }
  table_ = nullptr;
  cellText_.clear();
  cellOffsets_.clear();
  cellPointers_.clear();
  rowCount_ = 0;
  columnCount_ = 0;
}

bool SQLite::StepRowsLocked(sqlite3_stmt* statement, int32_t limit, std::string* error) {
  auto keep = [this](const char* text) {
    if (text == nullptr) {
      cellOffsets_.push_back(-1);
      return;
    }
    cellOffsets_.push_back(static_cast<int32_t>(cellText_.size()));
    cellText_.append(text);
    cellText_ += '\0';
  };
  // Header row first, then the values, as sqlite3_get_table lays them out.
  // The columns are read after the first step: a statement prepared before
  // a schema change is prepared again by that step.
  int columns = 0;
  int rows = 0;
  int rc = SQLITE_DONE;
  while (rows < limit && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (rows == 0) {
      columns = sqlite3_column_count(statement);
      for (int i = 0; i < columns; ++i) keep(sqlite3_column_name(statement, i));
    }
    for (int i = 0; i < columns; ++i) {
      keep(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
    }
    ++rows;
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(sqlite3_db_handle(statement));
    cellText_.clear();
    cellOffsets_.clear();
    return false;
  }
  cellPointers_.reserve(cellOffsets_.size());
  for (int32_t offset : cellOffsets_) {
    cellPointers_.push_back(offset < 0 ? nullptr : cellText_.data() + offset);
  }
  table_ = cellPointers_.data();
  rowCount_ = rows;
  columnCount_ = columns;  // none without rows, as sqlite3_get_table reports it
  return true;
}

bool SQLite::RunLocked(Database* database, const std::string& sql,
                       const std::vector<SqlValue>& values, int32_t limit, std::string* error) {
  database->AssertHeld();  // RunQuery's Hold, its only caller
  sqlite3* db = database->connection_;
  // The text still reads "SELECT * FROM ...": a short key, written out only
  // when first prepared.
  sqlite3_stmt* statement = database->statements_.Acquire(db, sql, &RewriteColumnList, error);
  if (statement == nullptr) {
    if (!error->empty()) return false;
    if (!values.empty() || limit > 0) {
      *error = "not one statement";
      return false;
    }
    return RunTextLocked(db, RewriteColumnList(sql), error);
  }
  int slot = 0;
  int rc = SQLITE_OK;
  for (const SqlValue& value : values) {
    ++slot;
    switch (value.kind()) {
      case SqlValue::Kind::kNull:
        rc = sqlite3_bind_null(statement, slot);
        break;
      case SqlValue::Kind::kInteger:
        rc = sqlite3_bind_int64(statement, slot, value.number());
        break;
      case SqlValue::Kind::kText:
        rc = sqlite3_bind_text(statement, slot, value.text().data(),
                               static_cast<int>(value.text().size()), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) break;
  }
  if (rc == SQLITE_OK && limit > 0) rc = sqlite3_bind_int64(statement, ++slot, limit);
  if (rc == SQLITE_OK && slot != sqlite3_bind_parameter_count(statement)) rc = SQLITE_RANGE;
  bool ok = false;
  if (rc != SQLITE_OK) {
    *error = rc == SQLITE_RANGE ? "the values do not match the placeholders" : sqlite3_errmsg(db);
  } else {
    ok = StepRowsLocked(statement, limit > 0 ? limit : INT32_MAX, error);
  }
  StatementCache::Release(statement);
  return ok;
}

bool SQLite::RunTextLocked(sqlite3* db, const std::string& sql, std::string* error) {
  char* message = nullptr;
  int rows = 0;
  int columns = 0;
  if (sqlite3_get_table(db, sql.c_str(), &result_, &rows, &columns, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    if (result_ != nullptr) {
      sqlite3_free_table(result_);
      result_ = nullptr;
    }
    rowCount_ = 0;
    columnCount_ = 0;
    return false;
  }
  sqlite3_free(message);
  table_ = result_;
  rowCount_ = rows;
  columnCount_ = columns;
  return true;
}

std::wstring SQLite::DatabaseFolder() {
  std::wstring appData;
  if (!tev::CommonAppDataFolder(&appData) || appData.empty()) {
    throw VelException(L"Coudln't get App Data folder");
  }
  std::wstring networks = appData + kSeparator + L"TevNetworks";
  std::error_code ec;
  if (!fs::is_directory(tev::ToStdUtf8(networks), ec)) {
    fs::create_directory(tev::ToStdUtf8(networks), ec);
  }
  return networks + kSeparator + L"TevPVR";
}

std::string SQLite::RewriteColumnList(const std::string& statement) {
  if (!StartsWithNoCase(statement, "SELECT")) return statement;
  for (const ColumnListRewrite& rewrite : kRewrites) {
    if (!StartsWithNoCase(statement, rewrite.prefix)) continue;
    std::string result = statement;
    const size_t prefixLength = std::strlen(rewrite.prefix);
    const size_t columnsLength = std::strlen(rewrite.columns);
    size_t at = 0;
    while ((at = result.find(rewrite.prefix, at)) != std::string::npos) {
      result.replace(at, prefixLength, rewrite.columns);
      at += columnsLength;
    }
    return result;
  }
  return statement;
}

bool SQLite::RunQuery(const std::string& statement, const std::vector<SqlValue>& values,
                      const std::wstring& caller) {
  try {
    const int32_t limit = rowLimit_;
    rowLimit_ = 0;
    // Telling the engine about the limit turns a full sort into a top-n one.
    const bool limited = limit > 0 && statement.compare(0, 6, "SELECT") == 0 &&
                         statement.find(" LIMIT ") == std::string::npos;
    const std::string limitedText = limited ? statement + " LIMIT ?" : std::string();
    const std::string& sql = limited ? limitedText : statement;
    std::function<void(const std::string&)> observer;
    std::string error;
    bool failed = false;
    bool openFailed = false;
    {
      Database::Hold hold(database_);
      Database* db = hold.get();
      if (db == nullptr) {
        openFailed = true;
        error = "no database folder";
      } else {
        db->AssertHeld();
        db->WaitForOtherTransactionsLocked();
        observer = db->observer_;
        if (db->connection_ == nullptr && !db->OpenLocked(&error)) {
          openFailed = true;
        } else {
          FreeResult();
          if (db->faultCountdown_ == 0 && sql != "rollback") {
            failed = true;
            error = "injected fault";
          } else {
            if (db->faultCountdown_ > 0) --db->faultCountdown_;
            Database::ThreadGroup& group = Database::ThisThreadGroup();
            const bool grouped = group.depth > 0 && db->wal_;
            if (grouped != db->relaxed_) {
              // NORMAL: a commit appends to the log without a sync.
              sqlite3_exec(db->connection_,
                           grouped ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL",
                           nullptr, nullptr, nullptr);
              db->relaxed_ = grouped;
            }
            const sqlite3_int64 changesBefore = sqlite3_total_changes64(db->connection_);
            failed = !RunLocked(db, sql, values, limited ? limit : 0, &error);
            if (grouped && sqlite3_total_changes64(db->connection_) != changesBefore) {
              (group.rebuildableDepth > 0 ? group.rebuildableChanged : group.changed) = true;
            }
          }
        }
      }
    }
    if (observer) {
      std::vector<SqlValue> all = values;
      if (limited) all.emplace_back(limit);
      observer(WithValuesWrittenIn(RewriteColumnList(sql), all));
    }
    if (openFailed) {
      LogError(L"Can't open database: %ls\n", tev::Utf8ToWide(error).c_str());
      return false;
    }
    if (failed) {
      lastError_ = tev::Utf8ToWide(error);
      failedStatement_ = tev::Utf8ToWide(WithValuesWrittenIn(statement, values));
      LogError(L"SQL error in %ls: %ls", caller.c_str(), lastError_.c_str());
      LogError(L"%ls", failedStatement_.c_str());
      return false;
    }
    return true;
  } catch (...) {
    LogError(L"RunQuery exception thrown************************");
    return false;
  }
}

void SQLite::AppendInList(std::string* statement, std::vector<SqlValue>* values,
                          std::vector<SqlValue> items) {
  if (items.empty()) {
    *statement += "()";
    return;
  }
  size_t slots = 1;
  while (slots < items.size()) slots *= 2;
  *statement += '(';
  for (size_t i = 0; i < slots; ++i) *statement += i == 0 ? "?" : ", ?";
  *statement += ')';
  values->reserve(values->size() + slots);
  for (SqlValue& item : items) values->push_back(std::move(item));
  for (size_t i = items.size(); i < slots; ++i) values->push_back(values->back());
}

bool SQLite::Begin(const std::wstring& caller) { return RunQuery("begin", caller); }

bool SQLite::Commit(const std::wstring& caller) { return RunQuery("commit", caller); }

bool SQLite::Next() {
  ++currentRow_;
  return true;
}

int SQLite::FindIndex(const char* column) {
  const char* name = column != nullptr ? column : "";
  if (currentRow_ < 0 || currentRow_ >= rowCount_ || table_ == nullptr) {
    LogError(L"FindIndex: Index out of bounds (%ls)", tev::Utf8ToWide(name).c_str());
    return -1;
  }
  for (int32_t k = 0; k < columnCount_; ++k) {
    const int32_t i = (nextColumn_ + k) % columnCount_;
    if (table_[i] != nullptr && std::strcmp(table_[i], name) == 0) {
      nextColumn_ = i + 1;
      return (currentRow_ + 1) * columnCount_ + i;
    }
  }
  LogError(L"FindIndex: Could not find %ls, resultColumns %d", tev::Utf8ToWide(name).c_str(),
           columnCount_);
  return -1;
}

int32_t SQLite::GetInt(const char* column) {
  int index = FindIndex(column);
  if (index < 0) return -1;
  return tev::Atoi(table_[index]);
}

std::wstring SQLite::GetString(const char* column) {
  int index = FindIndex(column);
  if (index < 0 || table_[index] == nullptr) return std::wstring();
  return tev::Utf8ToWide(table_[index]);
}

int64_t SQLite::GetTime(const char* column) {
  int index = FindIndex(column);
  if (index < 0) return tev::Clock::Now();
  return GetTime3(table_[index] == nullptr ? std::wstring() : tev::Utf8ToWide(table_[index]));
}

std::wstring SQLite::getVersion() {
  const char statement[] = "SELECT * FROM Config WHERE Key = 'Version'";
  if (!RunQuery(statement, L"SQLite::getVersion")) {
    LogError(L"SQLite::getVersion sql error in %ls", tev::Utf8ToWide(statement).c_str());
  }
  std::wstring version = GetString("Value");
  LogDebug(L"Version found: %ls", version.c_str());
  return version;
}
