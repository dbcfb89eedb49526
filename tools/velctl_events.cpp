#include "tools/velctl_events.h"

#include <set>

#include "tools/velctl_time.h"

namespace velctl {

namespace {

std::string Named(const Medium& medium) { return medium.id + " \"" + medium.Name() + "\""; }

// The line for `medium` having reached its state; empty for no event.
std::string StateEvent(const Medium& medium, bool isNew) {
  const std::string& state = medium.state;
  if (state == "schedule") {
    return std::string(isNew ? "scheduled " : "rescheduled ") + Named(medium) + " on " +
           medium.channel + " at " + medium.start.substr(0, 16) + " for " +
           FormatDuration(medium.durationMs / 1000);
  }
  if (state == "recording") return "started " + Named(medium) + " on " + medium.channel;
  if (state == "complete" || state == "partial") {
    return "finished " + Named(medium) + ": " + state + (medium.path.empty() ? "" : ", " + medium.path);
  }
  if (IsFailedState(state)) return "failed " + Named(medium) + ": " + DescribeState(state) + " (" + state + ")";
  if (state == "conflict") return "conflict " + Named(medium) + ": " + DescribeState(state);
  if (state == "skip") return "skipped " + Named(medium) + ": " + DescribeState(state);
  if (state == "deleted") return "removed " + Named(medium);
  return std::string();
}

}  // namespace

std::vector<std::string> Events(const std::map<std::string, Medium>& before,
                                const std::vector<Medium>& after) {
  std::vector<std::string> lines;
  std::set<std::string> seen;
  for (const Medium& medium : after) {
    seen.insert(medium.id);
    auto old = before.find(medium.id);
    if (medium.IsPass()) {
      if (old == before.end()) {
        lines.push_back("pass added " + medium.id + " \"" + medium.title + "\" on " + medium.channel +
                        " (" + medium.scheduleMode + ")");
      }
      continue;
    }
    if (old != before.end() && old->second.state == medium.state) continue;
    // A recording that started before the first listing saw it was
    // scheduled all the same.
    if (old == before.end() && medium.state == "recording") {
      Medium scheduled = medium;
      scheduled.state = "schedule";
      lines.push_back(StateEvent(scheduled, true));
    }
    std::string line = StateEvent(medium, old == before.end());
    if (!line.empty()) lines.push_back(line);
  }
  for (const auto& old : before) {
    if (seen.count(old.first) != 0) continue;
    lines.push_back((old.second.IsPass() ? "pass removed " + old.first + " \"" + old.second.title + "\""
                                         : "removed " + Named(old.second)));
  }
  return lines;
}

}  // namespace velctl
