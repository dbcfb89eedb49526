// Command lines through /bin/sh for tests of whole programs.
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

// What could be read of a file (a /proc file may go meanwhile); empty if none.
std::string ReadFile(const std::string& path);

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_SHELL_H_
