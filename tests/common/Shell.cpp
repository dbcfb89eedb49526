#include "tests/common/Shell.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace tev {
namespace test {

ShellRun RunShell(const std::string& command) {
  ShellRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 512> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace test
}  // namespace tev
