#include <algorithm>
#include <limits>

#include "peers/XmltvGuide.h"

namespace tev {
namespace peers {

namespace {

const int64_t kDay = 86400;

// Floor division: the day number of a local time, also before 1970.
int64_t DayOf(int64_t localSeconds) {
  return localSeconds >= 0 ? localSeconds / kDay : -((-localSeconds + kDay - 1) / kDay);
}

}  // namespace

int64_t FillComingWeek(std::vector<GuideChannel>* channels, int64_t nowLocal) {
  int64_t firstDay = std::numeric_limits<int64_t>::max();
  int64_t lastDay = std::numeric_limits<int64_t>::min();
  for (const GuideChannel& channel : *channels) {
    for (const GuideProgram& p : channel.programs) {
      firstDay = std::min(firstDay, DayOf(p.start));
      lastDay = std::max(lastDay, DayOf(p.start));
    }
  }
  if (firstDay > lastDay) return 0;
  const int64_t span = lastDay - firstDay + 1;
  const int64_t wantedLastDay = DayOf(nowLocal) + 7;
  int64_t copies = 0;
  for (GuideChannel& channel : *channels) {
    const std::vector<GuideProgram> original = channel.programs;
    for (int64_t k = 1; lastDay + (k - 1) * span < wantedLastDay; ++k) {
      for (GuideProgram p : original) {
        p.start += k * span * kDay;
        if (DayOf(p.start) > wantedLastDay) continue;
        channel.programs.push_back(p);
        ++copies;
      }
    }
  }
  return copies;
}

}  // namespace peers
}  // namespace tev
