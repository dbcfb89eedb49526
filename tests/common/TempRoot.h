// Where tests make their temporary folders: $TMPDIR, else /tmp. ctest
// points TMPDIR into the build folder (tests/CMakeLists.txt), so whatever a
// test that aborted left behind goes with the next run there.
#ifndef TEV_TESTS_COMMON_TEMPROOT_H_
#define TEV_TESTS_COMMON_TEMPROOT_H_

#include <cstdlib>
#include <string>

namespace tev {
namespace test {

// A mkdtemp pattern "<root>/<name>XXXXXX".
inline std::string TempPattern(const std::string& name) {
  const char* root = std::getenv("TMPDIR");
  return std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/" + name + "XXXXXX";
}

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_TEMPROOT_H_
