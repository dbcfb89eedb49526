// What the benchmarks share: timing figures, the goal line, the run count
// from the command line, and a private data folder for the module.
#ifndef TEV_BENCH_BENCHSUPPORT_H_
#define TEV_BENCH_BENCHSUPPORT_H_

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

inline double Micros(std::chrono::steady_clock::time_point a,
                     std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

inline void PrintGoal(const char* what, bool met) {
  std::printf("  %s: %s\n", what, met ? "PASS" : "FAIL");
}

// "--runs N", else `fallback`.
inline int Runs(int argc, char** argv, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) return std::max(1, std::atoi(argv[i + 1]));
  }
  return fallback;
}

// A new folder under /tmp holding the module's settings, application data
// and a "Recorded TV" folder; the environment points the module at it.
inline std::string MakeDataFolder(const std::string& name) {
  std::string pattern = "/tmp/tev-bench-" + name + "-XXXXXX";
  const std::string folder = mkdtemp(&pattern[0]);
  setenv("TEV_APPDATA_DIR", (folder + "/appdata").c_str(), 1);
  setenv("TEV_DOCUMENTS_DIR", (folder + "/documents").c_str(), 1);
  setenv("TEV_REGISTRY_FILE", (folder + "/registry.ini").c_str(), 1);
  std::filesystem::create_directories(folder + "/Recorded TV");
  // The programs refuse a settings file that is missing; an empty one holds the defaults.
  std::ofstream(folder + "/registry.ini").flush();
  return folder;
}

}  // namespace bench

#endif  // TEV_BENCH_BENCHSUPPORT_H_
