#include "db/Config.h"

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "platform/NoDestructor.h"
#include "support/Log.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// Makes SetString's read-then-insert one step for this process. Taken
// before the database lock (inside RunQuery), never across a bus request.
PMutex& SetStringMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

}  // namespace

int32_t Config::Get(const std::wstring& key, std::wstring* value) {
  SQLite query;
  std::wstring statement =
      tev::WFormat(L"SELECT Value FROM Config WHERE Key = '%ls'", SQLite::Escape(key).c_str());
  if (!query.RunQuery(statement, L"Config::Get")) return kStatementFailed;
  if (query.GetRowCount() > 0) {
    if (value != nullptr) *value = query.GetString("Value");
    return kOk;
  }
  LogError(L"Config::Get: Could not find Key: %ls", key.c_str());
  return kNoSuchKey;
}

int32_t Config::Set(const std::wstring& key, const std::wstring& value) {
  SQLite query;
  std::wstring statement = tev::WFormat(L"UPDATE Config SET Value = '%ls' WHERE Key = '%ls'",
                                        SQLite::Escape(value).c_str(), SQLite::Escape(key).c_str());
  return query.RunQuery(statement, L"Config::Set") ? kOk : kStatementFailed;
}

std::wstring Config::GetString(const std::wstring& key) {
  SQLite query;
  std::wstring statement =
      tev::WFormat(L"SELECT * FROM Config WHERE Key = '%ls'", SQLite::Escape(key).c_str());
  if (!query.RunQuery(statement, L"Config::GetString") || query.GetRowCount() < 1) {
    return std::wstring();
  }
  return query.GetString("Value");
}

void Config::SetString(const std::wstring& key, const std::wstring& value) {
  PMutexLock lock(SetStringMutex());
  const std::wstring escapedKey = SQLite::Escape(key);
  const std::wstring escapedValue = SQLite::Escape(value);
  SQLite query;
  std::wstring statement =
      tev::WFormat(L"SELECT * FROM Config WHERE Key = '%ls'", escapedKey.c_str());
  if (!query.RunQuery(statement, L"Config::SetString")) return;
  if (query.GetRowCount() > 0) {
    statement = tev::WFormat(L"UPDATE Config SET Value = '%ls' WHERE Key = '%ls'",
                             escapedValue.c_str(), escapedKey.c_str());
  } else {
    statement = tev::WFormat(L"INSERT INTO Config (Key, Value) VALUES ('%ls', '%ls')",
                             escapedKey.c_str(), escapedValue.c_str());
  }
  SQLite write;
  write.RunQuery(statement, L"Config::SetString");
}
