#include "web/ScheduleModes.h"

namespace web {

const char* const kScheduleModes[6] = {"ALL_EPISODES",          "ONLY_NEW_EPISODES",
                                       "DAILY_AT_SAME_TIME",    "WEEKLY_AT_SAME_TIME",
                                       "WEEKDAYS_AT_SAME_TIME", "WEEKENDS_AT_SAME_TIME"};

int ScheduleModeNumber(const std::string& name) {
  for (int i = 0; i < 6; ++i) {
    if (name == kScheduleModes[i]) return i + 1;
  }
  return 0;
}

}  // namespace web
