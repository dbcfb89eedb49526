// What the engine's services take and answer, as plain values. The bus
// reads its requests into these and writes the answers back in its own form;
// nothing here knows that form.
#ifndef TEV_ENGINE_REQUESTS_H_
#define TEV_ENGINE_REQUESTS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One schedule that stands in the way of a program.
struct ScheduleConflict {
  std::wstring name;
  std::wstring mediumId;  // "" without an endpoint
  std::wstring channelName;
  int64_t start = 0;  // UTC seconds since 1970
  int64_t end = 0;
  std::wstring subtitle;
  int32_t duration = 0;  // seconds
  std::wstring state;    // the state's external name
};

// What intake and the conflict check answer besides their result code:
// nothing, a medium id (the new row's, or that of the row that already
// records the program), or the schedules in the way.
struct ScheduleAnswer {
  enum class Kind { kNothing, kMediumId, kConflicts };
  Kind kind = Kind::kNothing;
  std::wstring mediumId;
  std::vector<ScheduleConflict> conflicts;
  // Set by the conflict check of a pass episode when its window needs no
  // new plan once the episode is written: it fits, and nothing else in the
  // window waits or would give way.
  bool windowSettled = false;

  void SetMediumId(const std::wstring& id) {
    kind = Kind::kMediumId;
    mediumId = id;
    conflicts.clear();
  }
  void SetConflicts(std::vector<ScheduleConflict> list) {
    kind = Kind::kConflicts;
    mediumId.clear();
    conflicts = std::move(list);
  }
};

// One [name, value] change the media library sends for a medium.
struct MediumChange {
  // An empty slot of the list: no pair at all. A schedule passes over it;
  // a pass refuses it.
  bool hole = false;
  std::wstring name;
  std::wstring value;  // an integer value as its decimal text
};

// The library's change callback: what happened to which medium.
struct MediumUpdate {
  int32_t action = 0;  // 0 change, 1 delete
  std::wstring mediumId;
  std::vector<MediumChange> changes;  // action 0 only
};

// A recording described as (property, text) pairs, in answer order.
typedef std::vector<std::pair<std::wstring, std::wstring>> FileDescription;

// Where a recording (or its thumbnail) is and what kind of file it is.
struct FileLocation {
  std::wstring path;
  std::wstring mimetype;
};

#endif  // TEV_ENGINE_REQUESTS_H_
