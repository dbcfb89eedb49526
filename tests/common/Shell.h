// Runs a command line through /bin/sh for tests of whole programs, and
// reads the files they leave.
#ifndef TEV_TESTS_COMMON_SHELL_H_
#define TEV_TESTS_COMMON_SHELL_H_

#include <string>

namespace tev {
namespace test {

struct ShellRun {
  int status;          // exit status, -1 when the command did not exit normally
  std::string output;  // its standard output (redirect 2>&1 in the command for errors)
};

ShellRun RunShell(const std::string& command);

// The whole content of a file; what could be read of it (a /proc file of a
// process that ends meanwhile), empty when it cannot be opened.
std::string ReadFile(const std::string& path);

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_SHELL_H_
