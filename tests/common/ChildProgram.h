// A program run as a child with extra environment and its output in a log
// file; killed when the object goes, or with the test process.
#ifndef TEV_TESTS_COMMON_CHILDPROGRAM_H_
#define TEV_TESTS_COMMON_CHILDPROGRAM_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace tev {
namespace test {

class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // argv[0] is looked up on PATH without a slash.
  bool Start(const std::vector<std::string>& argv, const std::string& log,
             const std::map<std::string, std::string>& env = {});
  bool Running();
  // Sends `signal`; the wait status, -1 when it had to be killed after `timeoutMs`.
  int Stop(int signal, int timeoutMs);
  // The exit code within `timeoutMs`; -1 when it still runs or a signal ended it.
  int WaitExit(int timeoutMs);
  pid_t pid() const { return pid_; }

 private:
  bool Ended(int timeoutMs);  // false when it still runs after `timeoutMs`

  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_CHILDPROGRAM_H_
