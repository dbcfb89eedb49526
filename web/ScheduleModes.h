// The schedule modes of a season pass, by their names; mode number i + 1
// is kScheduleModes[i].
#ifndef TEV_WEB_SCHEDULEMODES_H_
#define TEV_WEB_SCHEDULEMODES_H_

#include <string>

namespace web {

extern const char* const kScheduleModes[6];
// 1..6 for a mode's name, 0 for any other text.
int ScheduleModeNumber(const std::string& name);

}  // namespace web

#endif  // TEV_WEB_SCHEDULEMODES_H_
