// Changes a person makes to a schedule, a recording or a season pass. The
// module hears them through its "UpdateMedium" callback, as when the change
// is made in the media library; the library's copy is then brought in line
// (the module republishes what it changes on its own, such as the states
// of other schedules, but not what the library is supposed to know
// already).
#ifndef TEV_WEB_MEDIUMEDITS_H_
#define TEV_WEB_MEDIUMEDITS_H_

#include <string>

#include <nlohmann/json.hpp>

#include "web/BusLink.h"

namespace web {

// One property change: the pairs "title", "keepUntil", "pvrState",
// "priority", "scheduleMode", "restrictOneChannel"... `libraryValue` is
// what the library gets afterwards (null: the module republishes it).
velctl::Answer EditMedium(BusLink& bus, const std::string& id, const std::string& name,
                          const nlohmann::json& value, const nlohmann::json& libraryValue);
// Removes a schedule still to come, a finished recording (its file goes
// too) or a season pass (with its schedules).
velctl::Answer RemoveMedium(BusLink& bus, const std::string& id);
// Stops a recording in progress; what was recorded is kept.
velctl::Answer StopRecording(BusLink& bus, const std::string& id);

}  // namespace web

#endif  // TEV_WEB_MEDIUMEDITS_H_
