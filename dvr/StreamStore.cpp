#include "dvr/StreamStore.h"

#include <cstdint>

#include "db/SQLite.h"

namespace {

const wchar_t kCaller[] = L"StreamStore";

// Ids are unsigned 32-bit; the column holds them as signed.
long IdOf(SQLite& query) {
  return static_cast<long>(static_cast<uint32_t>(query.GetInt("StreamId")));
}

}  // namespace

void StreamStore::Save(const std::wstring& filePath, long streamId) {
  SQLite query;
  query.RunQuery("INSERT OR REPLACE INTO Streams (FilePath, StreamId) VALUES (?, ?)",
                 {filePath, static_cast<int32_t>(streamId)}, kCaller);
}

void StreamStore::Remove(const std::wstring& filePath) {
  SQLite query;
  query.RunQuery("DELETE FROM Streams WHERE FilePath = ?", {filePath}, kCaller);
}

std::map<std::wstring, long> StreamStore::All() {
  std::map<std::wstring, long> streams;
  SQLite query;
  if (!query.RunQuery("SELECT FilePath, StreamId FROM Streams", kCaller)) {
    return streams;
  }
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    streams[query.GetString("FilePath")] = IdOf(query);
  }
  return streams;
}
