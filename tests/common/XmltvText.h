// Guide times as a grabber on the US west coast writes them.
#ifndef TEV_TESTS_COMMON_XMLTVTEXT_H_
#define TEV_TESTS_COMMON_XMLTVTEXT_H_

#include <time.h>

#include <cstdint>
#include <string>

namespace tev {
namespace test {

// "YYYYMMDDhhmmss -0800" of a UTC time.
inline std::string PacificText(int64_t utc) {
  const time_t shifted = static_cast<time_t>(utc - 8 * 3600);
  struct tm fields {};
  gmtime_r(&shifted, &fields);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d%H%M%S -0800", &fields);
  return text;
}

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_XMLTVTEXT_H_
