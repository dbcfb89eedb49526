// Temporary folders below $TMPDIR (else /tmp), which ctest points into the
// build folder: what an aborted test leaves goes with the next run.
#ifndef TEV_TESTS_COMMON_TEMPROOT_H_
#define TEV_TESTS_COMMON_TEMPROOT_H_

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/WideText.h"

namespace tev {
namespace test {

inline std::string TempPattern(const std::string& name) {
  const char* root = std::getenv("TMPDIR");
  return std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/" + name + "XXXXXX";
}

// A fresh folder, removed with everything in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& name = "tev-test.") {
    std::string pattern = TempPattern(name);
    path_ = mkdtemp(&pattern[0]) != nullptr ? pattern : "/tmp/tev-test.failed";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::wstring wpath() const { return tev::FromStdUtf8(path_); }

 private:
  std::string path_;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_TEMPROOT_H_
