// The moments the recording timer was armed for while they were already
// past: each gets one wake-up, not one every second until something
// changes the row. The engine keeps one, under its lock.
#ifndef TEV_ENGINE_PASTINSTANTS_H_
#define TEV_ENGINE_PASTINSTANTS_H_

#include <cstdint>
#include <set>
#include <tuple>

class Schedule;
class SQLite;

enum MomentKind { kStartMoment, kStopMoment };

class PastInstants {
 public:
  // Forgets moments too old to come back from the queries.
  void Prune(int64_t now);
  int32_t Count() const { return static_cast<int32_t>(armed_.size()); }
  // The first row of `rows` whose moment (start or end moved by `offset`)
  // has not been armed in the past already: fills *row and *wait and
  // remembers the moment when it has passed. False when there is none.
  bool FirstToWaitFor(SQLite& rows, MomentKind kind, int64_t now, int64_t offset, Schedule* row,
                      int32_t* wait);

 private:
  static constexpr int64_t kForgetAfter = 3600;
  std::set<std::tuple<int, int32_t, int64_t>> armed_;
};

#endif  // TEV_ENGINE_PASTINSTANTS_H_
