// The priority order of television passes: 1, 2, 3, ... without gaps, 1
// the highest; passes of other mimetypes have 0 and take no part.
#include <vector>

#include "db/SQLite.h"
#include "db/WFormat.h"
#include "passes/SeasonPasses.h"
#include "support/NoDestructor.h"
#include "support/PMutex.h"

PMutex& PassWorkMutex() {
  static tev::NoDestructor<PMutex> mutex(true);
  return *mutex;
}

namespace {

bool SetPriority(int32_t passId, int32_t priority, const wchar_t* caller) {
  SQLite update;
  return update.RunQuery(tev::WFormat(L"UPDATE SeasonPasses SET %ls = %d WHERE %ls = %d",
                                      L"Priority", priority, L"ID", passId),
                         caller);
}

}  // namespace

int32_t SeasonPasses::GetLowestPriority() {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT %ls from SeasonPasses WHERE %ls>0", L"Priority",
                                   L"Priority"),
                      L"GetPriority")) {
    return 1;
  }
  return query.GetRowCount() + 1;
}

bool SeasonPasses::MakeRoomAtTop(std::vector<int32_t>* moved) {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT %ls, %ls from SeasonPasses WHERE %ls>0", L"ID",
                                   L"Priority", L"Priority"),
                      L"GetHighestPriority")) {
    return false;
  }
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    if (!SetPriority(id, query.GetInt("Priority") + 1, L"GetHighestPriority")) return false;
    moved->push_back(id);
  }
  return true;
}

int32_t SeasonPasses::GetHighestPriority() {
  std::vector<int32_t> moved;
  MakeRoomAtTop(&moved);
  RepublishPasses(moved);
  return 1;
}

bool SeasonPasses::RenumberPriorities(int32_t oldPriority, int32_t newPriority, int32_t passId,
                                      std::vector<int32_t>* changed) {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT %ls, %ls from SeasonPasses WHERE (%ls>0)", L"ID",
                                   L"Priority", L"Priority"),
                      L"UpdatePriorities")) {
    return false;
  }
  if (newPriority < 0 || newPriority > query.GetRowCount()) return false;
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    const int32_t id = query.GetInt("ID");
    const int32_t priority = query.GetInt("Priority");
    if (id == passId) continue;
    int32_t moved = priority;
    if (newPriority == 0) {
      if (priority > oldPriority) moved = priority - 1;
    } else if (oldPriority < newPriority) {
      if (priority >= oldPriority && priority <= newPriority) moved = priority - 1;
    } else if (newPriority < oldPriority) {
      if (priority >= newPriority && priority <= oldPriority) moved = priority + 1;
    }
    if (moved == priority) continue;
    if (!SetPriority(id, moved, L"UpdatePriorities")) return false;
    changed->push_back(id);
  }
  return true;
}

bool SeasonPasses::UpdatePriorities(int32_t oldPriority, int32_t newPriority, int32_t passId) {
  std::vector<int32_t> changed;
  const bool done = RenumberPriorities(oldPriority, newPriority, passId, &changed);
  RepublishPasses(changed);
  return done;
}

void SeasonPasses::RepublishPasses(const std::vector<int32_t>& passIds) {
  for (int32_t id : passIds) AddPassToTevMedia(id, std::wstring(), std::wstring(), std::wstring());
}
