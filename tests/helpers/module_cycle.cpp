// Loads, runs and unloads a module as a host does; fails when threads or open
// descriptors are left. Without libnats, only the module's copy is loaded.
//   module_cycle PATH/TO/libModule.so CYCLES
#include <dirent.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

typedef int (*InitializeFn)(const wchar_t*);
typedef int (*CloseFn)();

// Entries of a /proc folder less `less` (the listing's own descriptor).
int CountEntries(const char* folder, int less) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - less;
}

int Threads() { return CountEntries("/proc/self/task", 0); }
int Descriptors() { return CountEntries("/proc/self/fd", 1); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PATH/TO/libModule.so CYCLES\n", argv[0]);
    return 2;
  }
  const int cycles = std::atoi(argv[2]);
  const int threads = Threads(), descriptors = Descriptors();
  for (int i = 0; i < cycles; ++i) {
    void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "cannot load: %s\n", dlerror());
      return 2;
    }
    auto initialize = reinterpret_cast<InitializeFn>(dlsym(handle, "Initialize"));
    auto close = reinterpret_cast<CloseFn>(dlsym(handle, "Close"));
    if (initialize == nullptr || close == nullptr) return 2;
    const int started = initialize(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    close();
    dlclose(handle);
    // A thread that has just been joined may still be listed for a moment.
    for (int waited = 0; waited < 2000 && Threads() != threads; waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("cycle %d: initialize %d, threads %d (before %d), descriptors %d (before %d)\n",
                i, started, Threads(), threads, Descriptors(), descriptors);
    if (started != 0) return 3;
  }
  return Threads() == threads && Descriptors() == descriptors ? 0 : 1;
}
