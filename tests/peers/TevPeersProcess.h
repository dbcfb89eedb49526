// The tev-peers program as a child process of a test, and reading the log
// file it writes.
#ifndef TEV_TESTS_PEERS_TEVPEERSPROCESS_H_
#define TEV_TESTS_PEERS_TEVPEERSPROCESS_H_

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/common/ChildProgram.h"

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The tev-peers program as a child of the test; killed at the latest when
// the object goes.
class TevPeersProcess {
 public:
  bool Start(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<std::string> args{TEV_PEERS_BINARY};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::ofstream(log, std::ios::trunc);
    return child_.Start(args, log);
  }
  bool Running() { return child_.Running(); }
  // Sends `signal` and waits up to `timeoutMs` for the program to end; its
  // wait status, or -1 when it did not end (it is killed then).
  int Stop(int signal, int timeoutMs) { return child_.Stop(signal, timeoutMs); }
  pid_t pid() const { return child_.pid(); }

 private:
  tev::test::ChildProgram child_;
};

#endif  // TEV_TESTS_PEERS_TEVPEERSPROCESS_H_
