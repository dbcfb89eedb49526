// NATS subjects of the bus. Satellite and method names may hold characters
// that subject tokens cannot (blanks, dots, '*', '>'), so each name is
// percent-encoded into one token; names are matched exactly.
//   direct:    vel.sat.<satellite>.<method>
//   "any":     vel.any.<method>   (queue group vel.q.<method>: one offerer answers)
//   "ALL":     vel.all.<method>   (every offerer; nobody answers)
//   presence:  vel.ping.<satellite>
#ifndef TEV_VEL_SUBJECTS_H_
#define TEV_VEL_SUBJECTS_H_

#include <string>

namespace vel {

std::string EncodeToken(const std::wstring& name);
std::string DirectSubject(const std::wstring& satellite, const std::wstring& method);
std::string AnySubject(const std::wstring& method);
std::string AnyQueue(const std::wstring& method);
std::string AllSubject(const std::wstring& method);
// Every connected satellite answers here (DirectoryPingSatellite).
std::string PingSubject(const std::wstring& satellite);

enum class Route { kDirect, kAny, kAll };
Route RouteOf(const std::wstring& addressee);

}  // namespace vel

#endif  // TEV_VEL_SUBJECTS_H_
