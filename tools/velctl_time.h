// Times as a person types them on velctl's command line, and the dates the
// module expects on the bus.
//
// The module reads a start date as local wall time and turns it into UTC
// with the zone offset in force when the request arrives, so a start is
// sent as that offset applied to its UTC instant (StartDateForModule).
#ifndef TEV_TOOLS_VELCTL_TIME_H_
#define TEV_TOOLS_VELCTL_TIME_H_

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace velctl {

// "90s", "30m", "2h", "1h30m", "1h30m15s"; a bare number is minutes.
// Seconds in *seconds; false with *error for anything else or for 0.
bool ParseDuration(const std::string& text, int64_t* seconds, std::string* error);

// Local wall time: "HH:MM[:SS]" (today, or tomorrow when that has passed
// at `now`), or "YYYY-MM-DD HH:MM[:SS]" ('T' also separates). UTC seconds
// in *start; false with *error when the text is none of these.
bool ParseAt(const std::string& text, int64_t now, int64_t* start, std::string* error);

// The wire value of the start `utc` as the module reads it (see above).
nlohmann::json StartDateForModule(int64_t utc, int64_t now);

// "YYYY-MM-DD HH:MM" in local time.
std::string FormatLocal(int64_t utc);
// "45s", "30m", "1h30m".
std::string FormatDuration(int64_t seconds);

}  // namespace velctl

#endif  // TEV_TOOLS_VELCTL_TIME_H_
