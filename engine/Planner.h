// Chooses which of several wanted recordings get the tuners when more of
// them air at once than there are tuners. Pure: no database, no bus, no
// clock; the caller gathers the candidates and applies the plan.
//
// What counts against a tuner is a programme's own time, [start, end).
// Padding never decides: a recording whose padded start only overlaps the
// padded end of another (back-to-back, on any channel) takes no extra tuner,
// since at run time the earlier one is shortened or runs on into the next
// file. Counted pairwise like that, k+1 recordings exceed k tuners only when
// their programmes overlap pairwise, and intervals that overlap pairwise
// share a moment, so checking programme times alone is exact.
//
// The best plan, in order of what matters:
//   1. rank: a recording never loses its tuner to one of lower rank. One-off
//      recordings (priority 0) rank above every season pass, as a manual
//      schedule blocks every pass episode; then passes by priority, 1 first;
//   2. within a rank, more recorded seconds;
//   3. ties go to the earlier-made recording (smaller `made`, then the
//      earlier in the input).
#ifndef TEV_ENGINE_PLANNER_H_
#define TEV_ENGINE_PLANNER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tev {
namespace planner {

struct Candidate {
  int32_t id = 0;
  std::wstring name;     // shown in the reasons
  int64_t start = 0;     // programme start, UTC seconds
  int64_t end = 0;       // programme end, UTC seconds
  int32_t priority = 0;  // the pass's priority, 1 highest; 0 for a one-off
  int64_t made = 0;      // creation order: smaller was made earlier
};

struct Skipped {
  int32_t id = 0;
  // The recordings that hold every tuner at the first moment this one
  // would need one, in rank order.
  std::vector<int32_t> takers;
  std::wstring reason;  // "not recorded: A (priority 1) and B use both tuners"
};

struct Plan {
  std::vector<int32_t> record;   // ids, in the order of the input
  std::vector<Skipped> skipped;  // in the order of the input
  // False when a window was too large to search exhaustively within the
  // node budget; the plan is then the best found, completed greedily.
  bool exact = true;
};

// Search nodes per window before the planner settles for the best plan
// found so far: enough for windows of a few dozen candidates.
constexpr int64_t kNodeBudget = 2000000;

// Groups the candidates into windows that can be planned independently:
// connected components of overlapping programme times. Windows come in
// order of their first start; each keeps the input order.
std::vector<std::vector<Candidate>> SplitWindows(const std::vector<Candidate>& candidates);

// Plans one window (or any set of candidates) for `tuners` tuners. A
// candidate that ends before it starts, and every candidate when there is
// no tuner, is skipped with a reason saying so. `nodeBudget` bounds the
// search.
Plan PlanWindow(const std::vector<Candidate>& candidates, int tuners,
                int64_t nodeBudget = kNodeBudget);

// Splits into windows, plans each and joins the plans.
Plan PlanAll(const std::vector<Candidate>& candidates, int tuners);

}  // namespace planner
}  // namespace tev

#endif  // TEV_ENGINE_PLANNER_H_
