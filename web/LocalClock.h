// Times between the bus and the page. The media library and the guide
// carry local wall time (text or an OLE date of the local clock); the page
// gets UTC seconds since 1970 and shows them in the viewer's zone.
#ifndef TEV_WEB_LOCALCLOCK_H_
#define TEV_WEB_LOCALCLOCK_H_

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace web {

// "YYYY-MM-DD hh:mm:ss" (or 'T') of local wall time as UTC seconds; false
// for anything else.
bool LocalTextToUtc(const std::string& text, int64_t* utc);
// A wire date ({"vt":"DATE","v":days or text}) of local wall time as UTC
// seconds; false when `value` is no date.
bool LocalDateToUtc(const nlohmann::json& value, int64_t* utc);
// The wire date of local wall time at `utc`, as the guide is asked.
nlohmann::json UtcToLocalDate(int64_t utc);

}  // namespace web

#endif  // TEV_WEB_LOCALCLOCK_H_
