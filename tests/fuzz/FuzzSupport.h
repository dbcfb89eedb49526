// Helpers shared by the libFuzzer targets.
#ifndef TEV_TESTS_FUZZ_FUZZSUPPORT_H_
#define TEV_TESTS_FUZZ_FUZZSUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz {

// Stops the run like a crash: a property the code promises does not hold.
inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A folder of this process for files the target needs, made on first use
// under $TMPDIR (scripts/fuzz.sh points it into the build folder).
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tev-fuzz.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) __builtin_trap();
    return pattern;
  }();
  return folder;
}

// Splits the input at the first `separator` byte (the rest empty when none).
inline void Split(const uint8_t* data, size_t size, char separator, std::string* first,
                  std::string* rest) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  const size_t at = all.find(separator);
  *first = all.substr(0, at);
  *rest = at == std::string::npos ? std::string() : all.substr(at + 1);
}

}  // namespace fuzz

#endif  // TEV_TESTS_FUZZ_FUZZSUPPORT_H_
