// The rows of the SeasonPasses table by pass ID, for the engine and the
// passes alike. Each call runs its statements on its own query object
// under the database lock.
#ifndef TEV_DB_PASSSTORE_H_
#define TEV_DB_PASSSTORE_H_

#include <cstdint>
#include <string>

#include "db/SQLite.h"

namespace PassStore {

// Reads the whole row of the pass into `query`; false (the statement
// failed, or not exactly one row has that ID) leaves nothing to read.
// `caller` names the statement in the log.
bool Read(SQLite& query, int32_t passId, const wchar_t* caller);
// TevMediumId of the pass; empty unless exactly one row has that ID.
std::wstring MediumId(int32_t passId);
// Priority of the pass; 0 unless exactly one row has that ID.
int32_t Priority(int32_t passId);
// Writes one column of the pass's row; false when the statement failed.
bool SetColumn(SQLite& query, int32_t passId, const char* column, SqlValue value,
               const wchar_t* caller);
// Stores the pass's medium id (ERROR line on failure).
void AssignMediumId(int32_t passId, const std::wstring& mediumId);

}  // namespace PassStore

#endif  // TEV_DB_PASSSTORE_H_
