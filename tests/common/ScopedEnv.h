// Sets (nullptr: removes) an environment variable for one scope.
#ifndef TEV_TESTS_COMMON_SCOPEDENV_H_
#define TEV_TESTS_COMMON_SCOPEDENV_H_

#include <stdlib.h>

#include <string>

namespace tev {
namespace test {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_SCOPEDENV_H_
