#include "db/PassStore.h"

#include <utility>

#include "support/Log.h"

bool PassStore::Read(SQLite& query, int32_t passId, const wchar_t* caller) {
  return query.RunQuery("SELECT * from SeasonPasses WHERE ID = ?", {passId}, caller) &&
         query.GetRowCount() == 1;
}

std::wstring PassStore::MediumId(int32_t passId) {
  SQLite query;
  return Read(query, passId, L"GetMediumId") ? query.GetString("TevMediumId") : std::wstring();
}

int32_t PassStore::Priority(int32_t passId) {
  SQLite query;
  return Read(query, passId, L"GetPriority") ? query.GetInt("Priority") : 0;
}

bool PassStore::SetColumn(SQLite& query, int32_t passId, const char* column, SqlValue value,
                          const wchar_t* caller) {
  return query.RunQuery(std::string("UPDATE SeasonPasses SET ") + column + " = ? WHERE ID = ?",
                        {std::move(value), passId}, caller);
}

void PassStore::AssignMediumId(int32_t passId, const std::wstring& mediumId) {
  SQLite query;
  if (!SetColumn(query, passId, "TevMediumId", mediumId, L"UpdateMedium")) {
    LogError(L"SeasonPasses::AssignTevMediumId: SQL error for %ls",
             query.FailedStatement().c_str());
  }
}
