// The tuner planner: which recordings of an evening get the tuners, and why
// the others do not.
#include "engine/Planner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using tev::planner::Candidate;
using tev::planner::Plan;
using tev::planner::PlanAll;
using tev::planner::PlanWindow;
using tev::planner::Skipped;
using tev::planner::SplitWindows;

const int64_t kMidnight = 1796860800;  // 2026-12-09 00:00 UTC

int64_t UtcAt(int hour, int minute) { return kMidnight + hour * 3600 + minute * 60; }

Candidate Make(int32_t id, const std::wstring& name, int64_t start, int minutes, int32_t priority,
               int64_t made) {
  return {id, name, start, start + minutes * 60, priority, made};
}

std::set<int32_t> Ids(const std::vector<int32_t>& ids) { return {ids.begin(), ids.end()}; }

int BusyAt(const std::vector<Candidate>& in, const std::set<int32_t>& ids, int64_t t) {
  return static_cast<int>(std::count_if(in.begin(), in.end(), [&](const Candidate& c) {
    return ids.count(c.id) && c.start <= t && t < c.end;
  }));
}

bool Feasible(const std::vector<Candidate>& in, const std::set<int32_t>& ids, int tuners) {
  return std::all_of(in.begin(), in.end(), [&](const Candidate& c) {
    return !ids.count(c.id) || BusyAt(in, ids, c.start) <= tuners;
  });
}

int32_t Rank(const Candidate& c) { return c.priority > 0 ? c.priority : 0; }

// Every subset, preferred by recorded seconds per rank (highest rank first)
// and then by holding the earlier-made candidate; no pruning.
std::set<int32_t> Exhaustive(std::vector<Candidate> in, int tuners) {
  std::stable_sort(in.begin(), in.end(), [](const Candidate& a, const Candidate& b) {
    return Rank(a) != Rank(b) ? Rank(a) < Rank(b) : a.made < b.made;
  });
  const size_t n = in.size();
  std::vector<int64_t> best;
  std::set<int32_t> bestIds;
  for (uint32_t mask = 1u << n; mask-- > 0;) {
    std::set<int32_t> ids;
    std::vector<int64_t> value(5, 0);
    for (size_t i = 0; i < n; ++i) {
      if (mask & (1u << (n - 1 - i))) {  // the earliest in order is the highest bit
        ids.insert(in[i].id);
        value[Rank(in[i])] += in[i].end - in[i].start;
      }
    }
    if (Feasible(in, ids, tuners) && (best.empty() || value > best)) {
      best = value;
      bestIds = ids;
    }
    // Equal values: masks go downwards, so the first found, holding the
    // earlier-made difference, stays.
  }
  return bestIds;
}

// A skipped one: its id, who takes the tuners and what the user reads.
using SkippedAs = std::tuple<int32_t, std::vector<int32_t>, std::wstring>;

struct Case {
  const char* what;
  int tuners;
  std::vector<Candidate> in;
  std::vector<int32_t> record;
  std::vector<SkippedAs> skipped;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  const Plan plan = PlanAll(c.in, c.tuners);
  EXPECT_TRUE(plan.exact);
  EXPECT_EQ(plan.record, c.record);
  std::vector<SkippedAs> skipped;
  for (const Skipped& s : plan.skipped) skipped.emplace_back(s.id, s.takers, s.reason);
  EXPECT_EQ(skipped, c.skipped);
}

TEST(Planner, TiesOverlapsAndWhatEachLeftOutOneIsTold) {
  const std::vector<Case> cases = {
      {"a three-way tie goes to the two made first",
       2,
       {Make(1, L"Alpha", UtcAt(20, 0), 60, 0, 3), Make(2, L"Beta", UtcAt(20, 0), 60, 0, 1),
        Make(3, L"Gamma", UtcAt(20, 0), 60, 0, 2)},
       {2, 3},
       {{1, {2, 3}, L"not recorded: Beta and Gamma use both tuners"}}},
      {"a one-off outranks a longer pass episode made before it",
       1,
       {Make(1, L"Show", UtcAt(20, 0), 60, 1, 1), Make(2, L"News", UtcAt(20, 30), 30, 0, 2)},
       {2},
       {{1, {2}, L"not recorded: News uses the tuner"}}},
      {"back-to-back on one channel and across channels needs one tuner",
       1,
       {Make(1, L"First", UtcAt(20, 0), 60, 2, 1), Make(2, L"Second", UtcAt(21, 0), 60, 3, 2),
        Make(3, L"Third", UtcAt(22, 0), 60, 1, 3)},
       {1, 2, 3},
       {}},
      {"a minute of real overlap is a conflict",
       1,
       {Make(1, L"First", UtcAt(20, 0), 60, 2, 1), Make(2, L"Late", UtcAt(20, 59), 60, 1, 2)},
       {2},
       {{1, {2}, L"not recorded: Late (priority 1) uses the tuner"}}},
      {"three tuners taken",
       3,
       {Make(1, L"A", UtcAt(20, 0), 60, 1, 1), Make(2, L"B", UtcAt(20, 0), 60, 2, 2),
        Make(3, L"C", UtcAt(20, 0), 60, 3, 3), Make(4, L"D", UtcAt(20, 30), 60, 4, 4)},
       {1, 2, 3},
       {{4,
         {1, 2, 3},
         L"not recorded: A (priority 1), B (priority 2) and C (priority 3) use all 3 tuners"}}},
      {"no tuner, and a programme that ends as it starts",
       0,
       {Make(1, L"A", UtcAt(20, 0), 60, 1, 1), Make(2, L"B", UtcAt(21, 0), 0, 0, 2)},
       {},
       {{1, {}, L"not recorded: there is no tuner"},
        {2, {}, L"not recorded: its end is not after its start"}}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(Planner, WindowsAreTheGroupsOfOverlappingProgrammes) {
  const std::vector<Candidate> in = {
      Make(1, L"A", UtcAt(21, 0), 60, 1, 1),  Make(2, L"B", UtcAt(20, 0), 60, 1, 2),
      Make(3, L"C", UtcAt(21, 30), 60, 1, 3), Make(4, L"D", UtcAt(21, 45), 0, 1, 4),
      Make(5, L"E", UtcAt(22, 15), 30, 1, 5), Make(6, L"F", UtcAt(23, 0), 30, 1, 6),
  };
  std::vector<std::vector<int32_t>> windows;
  for (const auto& w : SplitWindows(in)) {
    windows.emplace_back();
    for (const Candidate& c : w) windows.back().push_back(c.id);
  }
  // B ends as A starts; D has no length and does not cut A-C-E apart.
  EXPECT_EQ(windows, (std::vector<std::vector<int32_t>>{{2}, {1, 3, 5}, {4}, {6}}));
}

// The ranking (priority, minutes, order of making) against every subset.
TEST(Planner, RandomWindowsMatchAnExhaustiveSearch) {
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 1 + static_cast<int>(random() % 11), tuners = 1 + static_cast<int>(random() % 3);
    std::vector<Candidate> in;
    for (int i = 0; i < n; ++i) {
      const int minutes = 15 * (1 + static_cast<int>(random() % 8));
      in.push_back(Make(100 + i, L"P", UtcAt(20, 15 * static_cast<int>(random() % 12)), minutes,
                        static_cast<int32_t>(random() % 4), static_cast<int64_t>(random() % 5)));
    }
    const Plan plan = PlanWindow(in, tuners);
    ASSERT_EQ(Ids(plan.record), Exhaustive(in, tuners)) << "trial " << trial;
  }
}

// More than three tuners can take, in windows too large to enumerate: the plan
// stays within the tuners and no skipped one could replace a lower-ranked taker.
TEST(Planner, AWholeEveningOnEightChannels) {
  std::mt19937 random(7);
  std::vector<Candidate> in;
  int32_t id = 1;
  for (int channel = 0; channel < 8; ++channel) {
    for (int minute = 18 * 60; minute < 24 * 60;) {
      const int length = random() % 3 == 0 ? 60 : 30;
      if (random() % 3 != 0) {
        in.push_back(Make(id, L"P" + std::to_wstring(id), kMidnight + minute * 60, length,
                          static_cast<int32_t>(random() % 6), static_cast<int64_t>(random() % 50)));
      }
      ++id;
      minute += length;
    }
  }
  const int tuners = 3;
  const Plan plan = PlanAll(in, tuners);
  EXPECT_TRUE(plan.exact);
  const std::set<int32_t> recorded = Ids(plan.record);
  ASSERT_EQ(recorded.size() + plan.skipped.size(), in.size());
  EXPECT_GT(plan.skipped.size(), in.size() / 4);
  EXPECT_TRUE(Feasible(in, recorded, tuners));
  auto byId = [&](int32_t wanted) {
    return *std::find_if(in.begin(), in.end(), [&](const Candidate& c) { return c.id == wanted; });
  };
  for (const Skipped& s : plan.skipped) {
    const Candidate skipped = byId(s.id);
    ASSERT_EQ(s.takers.size(), static_cast<size_t>(tuners)) << s.id;
    for (int32_t taker : s.takers) {
      const Candidate t = byId(taker);
      EXPECT_TRUE(recorded.count(taker));
      EXPECT_TRUE(t.start < skipped.end && skipped.start < t.end) << s.id << " by " << taker;
      if (Rank(t) > Rank(skipped)) {
        std::set<int32_t> swapped = recorded;
        swapped.erase(taker);
        swapped.insert(s.id);
        EXPECT_FALSE(Feasible(in, swapped, tuners)) << s.id << " could replace " << taker;
      }
    }
  }
}

TEST(Planner, ACutShortSearchStillGivesAWholePlan) {
  std::vector<Candidate> in;
  for (int i = 0; i < 18; ++i) in.push_back(Make(i + 1, L"P", UtcAt(20, 5 * i), 60 + i, 0, i));
  const Plan plan = PlanWindow(in, 2, 50);
  EXPECT_FALSE(plan.exact);
  EXPECT_TRUE(Feasible(in, Ids(plan.record), 2));
  for (const Skipped& s : plan.skipped) EXPECT_EQ(s.takers.size(), 2u) << s.id;
  EXPECT_TRUE(PlanWindow(in, 2).exact);
}

}  // namespace
