#include "tests/common/Shell.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace tev {
namespace test {

namespace {

void Drain(FILE* from, std::string* to) {
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), from)) > 0) to->append(buffer.data(), n);
}

}  // namespace

ShellRun RunShell(const std::string& command) {
  ShellRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  Drain(pipe, &run.output);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadFile(const std::string& path) {
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    Drain(file, &text);
    std::fclose(file);
  }
  return text;
}

}  // namespace test
}  // namespace tev
