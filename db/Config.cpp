#include "db/Config.h"

#include "db/Database.h"
#include "db/SQLite.h"
#include "support/Log.h"

namespace {

const char kSelectByKey[] = "SELECT * FROM Config WHERE Key = ?";
const char kUpdate[] = "UPDATE Config SET Value = ? WHERE Key = ?";

}  // namespace

int32_t Config::Get(const std::wstring& key, std::wstring* value) {
  SQLite query;
  if (!query.RunQuery("SELECT Value FROM Config WHERE Key = ?", {key}, L"Config::Get")) {
    return kStatementFailed;
  }
  if (query.GetRowCount() > 0) {
    if (value != nullptr) *value = query.GetString("Value");
    return kOk;
  }
  LogError(L"Config::Get: Could not find Key: %ls", key.c_str());
  return kNoSuchKey;
}

int32_t Config::Set(const std::wstring& key, const std::wstring& value) {
  SQLite query;
  return query.RunQuery(kUpdate, {value, key}, L"Config::Set") ? kOk : kStatementFailed;
}

std::wstring Config::GetString(const std::wstring& key) {
  SQLite query;
  if (!query.RunQuery(kSelectByKey, {key}, L"Config::GetString") || query.GetRowCount() < 1) {
    return std::wstring();
  }
  return query.GetString("Value");
}

void Config::SetString(const std::wstring& key, const std::wstring& value) {
  // The read-then-insert is one step for this process.
  Database::WithConfigWriteLock([&key, &value] {
    SQLite query;
    if (!query.RunQuery(kSelectByKey, {key}, L"Config::SetString")) return;
    SQLite write;
    if (query.GetRowCount() > 0) {
      write.RunQuery(kUpdate, {value, key}, L"Config::SetString");
    } else {
      write.RunQuery("INSERT INTO Config (Key, Value) VALUES (?, ?)", {key, value},
                     L"Config::SetString");
    }
  });
}
