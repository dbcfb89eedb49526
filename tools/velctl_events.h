// Recording events from two listings of the module's media: what a person
// watching the recorder wants to hear about.
#ifndef TEV_TOOLS_VELCTL_EVENTS_H_
#define TEV_TOOLS_VELCTL_EVENTS_H_

#include <map>
#include <string>
#include <vector>

#include "tools/velctl_media.h"

namespace velctl {

// One line per change from `before` (by medium id) to `after`, in the order
// of `after`, then the media that are gone (a new medium already recording
// gives its scheduled line first):
//   scheduled ID "Name" on Channel at YYYY-MM-DD HH:MM for 30m
//   started ID "Name" on Channel
//   finished ID "Name": complete|partial, PATH
//   failed ID "Name": why (state)
//   conflict|skipped ID "Name": why
//   removed ID "Name"
//   pass added ID "Programme" on Channel (MODE)
std::vector<std::string> Events(const std::map<std::string, Medium>& before,
                                const std::vector<Medium>& after);

}  // namespace velctl

#endif  // TEV_TOOLS_VELCTL_EVENTS_H_
