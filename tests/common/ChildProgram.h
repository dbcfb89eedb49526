// A program run by a test as a child process, with extra environment
// variables and its output in a log file; killed at the latest when the
// object goes (and with the test process, should that die first).
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

  // argv[0] is the program (looked up on PATH without a slash). False when
  // it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::string& log,
             const std::map<std::string, std::string>& env = {});
  bool Running();
  // Sends `signal`, waits up to `timeoutMs` for the end (then SIGKILL).
  // The wait status; -1 when it had to be killed.
  int Stop(int signal, int timeoutMs);
  // Waits up to `timeoutMs` for the program to end by itself; its exit
  // code, or -1 when it still runs (or ended by a signal).
  int WaitExit(int timeoutMs);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_CHILDPROGRAM_H_
