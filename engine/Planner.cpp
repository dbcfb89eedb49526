#include "engine/Planner.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace tev {
namespace planner {
namespace {

int32_t Rank(const Candidate& c) { return c.priority > 0 ? c.priority : 0; }

bool Empty(const Candidate& c) { return c.end <= c.start; }

std::wstring Shown(const Candidate& c) {
  return c.priority > 0 ? c.name + L" (priority " + std::to_wstring(c.priority) + L")" : c.name;
}

std::wstring Reason(const std::vector<const Candidate*>& takers, int tuners) {
  std::wstring names;
  for (size_t i = 0; i < takers.size(); ++i) {
    if (i > 0) names += i + 1 == takers.size() ? L" and " : L", ";
    names += Shown(*takers[i]);
  }
  const std::wstring verb = takers.size() == 1 ? L" uses " : L" use ";
  const std::wstring what = tuners == 1   ? L"the tuner"
                            : tuners == 2 ? L"both tuners"
                                          : L"all " + std::to_wstring(tuners) + L" tuners";
  return L"not recorded: " + names + verb + what;
}

int BusyAt(const std::vector<const Candidate*>& set, int64_t t) {
  return static_cast<int>(std::count_if(
      set.begin(), set.end(), [t](const Candidate* s) { return s->start <= t && t < s->end; }));
}

// Branch and bound over one window. Candidates are taken in the order of
// the tie rule (rank, then made), each first with and then without; a new
// plan replaces the best only when strictly better, so among equal plans
// the first found, the one holding the earliest-made difference, stays.
// Time is cut into segments at every start and end; the tuners busy in each
// segment are kept up to date along the search.
class Search {
 public:
  Search(std::vector<const Candidate*> order, int tuners, int64_t budget)
      : order_(std::move(order)), tuners_(tuners), budget_(budget) {
    for (const Candidate* c : order_) {
      if (ranks_.empty() || ranks_.back() != Rank(*c)) ranks_.push_back(Rank(*c));
      rankIndex_.push_back(static_cast<int>(ranks_.size()) - 1);
      times_.push_back(c->start);
      times_.push_back(c->end);
    }
    std::sort(times_.begin(), times_.end());
    times_.erase(std::unique(times_.begin(), times_.end()), times_.end());
    for (const Candidate* c : order_) {
      first_.push_back(Segment(c->start));
      last_.push_back(Segment(c->end));
    }
    busy_.assign(times_.size(), 0);
    cover_.assign(times_.size(), 0);
    chosen_.assign(order_.size(), false);
    value_.assign(ranks_.size(), 0);
    best_ = value_;
    bestChosen_ = chosen_;
  }

  // The chosen candidates, in search order; a search cut short by the
  // budget is completed greedily in the same order.
  std::vector<const Candidate*> Run() {
    Visit(0);
    busy_.assign(times_.size(), 0);
    for (size_t j = 0; j < order_.size(); ++j) {
      if (bestChosen_[j]) Take(j, 1);
    }
    std::vector<const Candidate*> chosen;
    for (size_t j = 0; j < order_.size(); ++j) {
      if (!bestChosen_[j] && Fits(j)) {
        Take(j, 1);
        bestChosen_[j] = true;
      }
      if (bestChosen_[j]) chosen.push_back(order_[j]);
    }
    return chosen;
  }

  bool Exact() const { return nodes_ <= budget_; }

 private:
  size_t Segment(int64_t t) const {
    return static_cast<size_t>(std::lower_bound(times_.begin(), times_.end(), t) - times_.begin());
  }

  bool Fits(size_t j) const {
    for (size_t s = first_[j]; s < last_[j]; ++s) {
      if (busy_[s] >= tuners_) return false;
    }
    return true;
  }

  void Take(size_t j, int change) {
    for (size_t s = first_[j]; s < last_[j]; ++s) busy_[s] += change;
  }

  void Visit(size_t i) {
    if (++nodes_ > budget_) return;
    if (i == order_.size()) {
      if (value_ > best_) {
        best_ = value_;
        bestChosen_ = chosen_;
      }
      return;
    }
    if (!(Bound(i) > best_)) return;
    const int64_t length = order_[i]->end - order_[i]->start;
    if (Fits(i)) {
      Take(i, 1);
      chosen_[i] = true;
      value_[rankIndex_[i]] += length;
      Visit(i + 1);
      value_[rankIndex_[i]] -= length;
      chosen_[i] = false;
      Take(i, -1);
    }
    Visit(i + 1);
  }

  // Optimistic value of any plan below node `i`: per rank, what is chosen
  // plus, in each segment, the lesser of the free tuners and the number of
  // undecided candidates of that rank that still fit and air then.
  std::vector<int64_t> Bound(size_t i) {
    std::vector<int64_t> bound = value_;
    for (size_t j = i; j < order_.size();) {
      const int r = rankIndex_[j];
      size_t low = times_.size(), high = 0;
      for (; j < order_.size() && rankIndex_[j] == r; ++j) {
        if (!Fits(j)) continue;
        for (size_t s = first_[j]; s < last_[j]; ++s) ++cover_[s];
        low = std::min(low, first_[j]);
        high = std::max(high, last_[j]);
      }
      for (size_t s = low; s < high; ++s) {
        bound[r] += (times_[s + 1] - times_[s]) * std::min(tuners_ - busy_[s], cover_[s]);
        cover_[s] = 0;
      }
    }
    return bound;
  }

  // Constant after construction.
  const std::vector<const Candidate*> order_;
  const int tuners_;
  const int64_t budget_;
  std::vector<int32_t> ranks_;        // distinct ranks, highest first
  std::vector<int> rankIndex_;        // per candidate of order_, its slot in ranks_
  std::vector<int64_t> times_;        // every start and end, ascending; segment s is [s, s+1)
  std::vector<size_t> first_, last_;  // per candidate, its segments [first, last)
  // The search path.
  std::vector<int> busy_;   // chosen candidates airing, per segment
  std::vector<int> cover_;  // scratch of Bound, all 0 between calls
  std::vector<bool> chosen_;
  std::vector<int64_t> value_;  // recorded seconds per rank of chosen_
  std::vector<int64_t> best_;
  std::vector<bool> bestChosen_;
  int64_t nodes_ = 0;
};

struct Decision {
  bool record = false;
  Skipped skipped;
};

// Plans the candidates at `indices` and writes their decisions.
bool PlanIndices(const std::vector<Candidate>& all, const std::vector<size_t>& indices, int tuners,
                 int64_t budget, std::vector<Decision>& decisions) {
  std::vector<const Candidate*> order;
  for (size_t i : indices) {
    decisions[i].skipped.id = all[i].id;
    if (Empty(all[i])) {
      decisions[i].skipped.reason = L"not recorded: its end is not after its start";
    } else if (tuners < 1) {
      decisions[i].skipped.reason = L"not recorded: there is no tuner";
    } else {
      order.push_back(&all[i]);
    }
  }
  std::stable_sort(order.begin(), order.end(), [](const Candidate* a, const Candidate* b) {
    return Rank(*a) != Rank(*b) ? Rank(*a) < Rank(*b) : a->made < b->made;
  });
  Search search(order, tuners, budget);
  const std::vector<const Candidate*> chosen = search.Run();
  for (const Candidate* c : chosen) decisions[static_cast<size_t>(c - all.data())].record = true;
  for (const Candidate* c : order) {
    Decision& d = decisions[static_cast<size_t>(c - all.data())];
    if (d.record) continue;
    // The first moment inside it at which every tuner is taken.
    std::vector<int64_t> moments = {c->start};
    for (const Candidate* s : chosen) {
      if (s->start > c->start && s->start < c->end) moments.push_back(s->start);
    }
    std::sort(moments.begin(), moments.end());
    for (int64_t t : moments) {
      if (BusyAt(chosen, t) < tuners) continue;
      std::vector<const Candidate*> takers;
      for (const Candidate* s : chosen) {  // `chosen` is in rank order
        if (s->start <= t && t < s->end) takers.push_back(s);
      }
      for (const Candidate* s : takers) d.skipped.takers.push_back(s->id);
      d.skipped.reason = Reason(takers, tuners);
      break;
    }
  }
  return search.Exact();
}

std::vector<std::vector<size_t>> WindowIndices(const std::vector<Candidate>& candidates) {
  std::vector<size_t> byStart(candidates.size());
  std::iota(byStart.begin(), byStart.end(), 0);
  std::stable_sort(byStart.begin(), byStart.end(),
                   [&](size_t a, size_t b) { return candidates[a].start < candidates[b].start; });
  // A candidate without length overlaps nothing: it is a window of its own,
  // placed where it starts, and does not cut the window it falls into.
  std::vector<std::vector<size_t>> windows, lone;
  int64_t reach = 0;  // latest end in the open window
  for (size_t i : byStart) {
    const Candidate& c = candidates[i];
    if (Empty(c)) {
      lone.push_back({i});
      continue;
    }
    if (windows.empty() || c.start >= reach) windows.emplace_back();
    windows.back().push_back(i);
    reach = windows.back().size() == 1 ? c.end : std::max(reach, c.end);
  }
  windows.insert(windows.end(), lone.begin(), lone.end());
  std::stable_sort(windows.begin(), windows.end(), [&](const auto& a, const auto& b) {
    return candidates[a[0]].start < candidates[b[0]].start;
  });
  for (auto& w : windows) std::sort(w.begin(), w.end());
  return windows;
}

Plan Assemble(const std::vector<Candidate>& candidates, const std::vector<Decision>& decisions,
              bool exact) {
  Plan plan;
  plan.exact = exact;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (decisions[i].record) {
      plan.record.push_back(candidates[i].id);
    } else {
      plan.skipped.push_back(decisions[i].skipped);
    }
  }
  return plan;
}

}  // namespace

std::vector<std::vector<Candidate>> SplitWindows(const std::vector<Candidate>& candidates) {
  std::vector<std::vector<Candidate>> windows;
  for (const auto& indices : WindowIndices(candidates)) {
    windows.emplace_back();
    for (size_t i : indices) windows.back().push_back(candidates[i]);
  }
  return windows;
}

Plan PlanWindow(const std::vector<Candidate>& candidates, int tuners, int64_t nodeBudget) {
  std::vector<size_t> indices(candidates.size());
  std::iota(indices.begin(), indices.end(), 0);
  std::vector<Decision> decisions(candidates.size());
  const bool exact = PlanIndices(candidates, indices, tuners, nodeBudget, decisions);
  return Assemble(candidates, decisions, exact);
}

Plan PlanAll(const std::vector<Candidate>& candidates, int tuners) {
  std::vector<Decision> decisions(candidates.size());
  bool exact = true;
  for (const auto& indices : WindowIndices(candidates)) {
    exact = PlanIndices(candidates, indices, tuners, kNodeBudget, decisions) && exact;
  }
  return Assemble(candidates, decisions, exact);
}

}  // namespace planner
}  // namespace tev
