#include "dvr/ThumbnailTable.h"

#include <exception>

#include "support/Log.h"
#include "support/PMutexLock.h"

void ThumbnailTable::Set(int32_t id, bool exists) {
  try {
    PMutexLock lock(m_mutex);
    m_entries[id] = exists;
  } catch (const std::exception&) {
    LogError(L"SetThumbnailEntry problem");
  }
}

bool ThumbnailTable::Get(int32_t id) {
  try {
    PMutexLock lock(m_mutex);
    return m_entries[id];
  } catch (const std::exception&) {
    LogError(L"GetThumbnailEntry problem");
    return false;
  }
}

bool ThumbnailTable::Has(int32_t id) {
  PMutexLock lock(m_mutex);
  return m_entries.count(id) != 0;
}
