// Loads a module library the way the media server does: dlopen, resolve the
// plain-named entry points, Initialize, run until SIGINT or SIGTERM, Close.
// SIGHUP (sent after rotating logs) asks the module to reopen its log files
// through its optional "ReopenLogs" entry point and keeps it running.
// Its own lines and the module's FATAL and ERROR log lines go to standard
// error, where a service manager collects them.
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/LogFollower.h"
#include "platform/Folders.h"
#include "platform/WideText.h"

namespace {

typedef int (*InitializeFn)(const wchar_t* parameter);
typedef int (*CloseFn)();
typedef int (*ReopenLogsFn)();

void HostSignals(sigset_t* set) {
  sigemptyset(set);
  sigaddset(set, SIGINT);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGHUP);
}

// Returns the stop signal; reopens the logs on every SIGHUP before it.
int WaitForStopSignal(ReopenLogsFn reopenLogs) {
  sigset_t set;
  HostSignals(&set);
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig != SIGHUP) return sig;
    std::fprintf(stderr, "tevpvr-host: SIGHUP, reopening logs\n");
    if (reopenLogs) reopenLogs();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: %s PATH/TO/libModule.so\n", argv[0]);
    return argc == 2 ? 0 : 2;
  }
  // Block the stop signals before any module thread exists so that only
  // sigwait below receives them.
  sigset_t set;
  HostSignals(&set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "tevpvr-host: cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  auto initialize = reinterpret_cast<InitializeFn>(dlsym(handle, "Initialize"));
  auto close = reinterpret_cast<CloseFn>(dlsym(handle, "Close"));
  auto reopenLogs = reinterpret_cast<ReopenLogsFn>(dlsym(handle, "ReopenLogs"));
  if (!initialize || !close) {
    std::fprintf(stderr, "tevpvr-host: %s does not export Initialize and Close\n", argv[1]);
    dlclose(handle);
    return 1;
  }

  std::wstring appData;
  tev::CommonAppDataFolder(&appData);
  LogFollower errors(LogFollower::LogPathFor(argv[1], tev::ToStdUtf8(appData)), stderr);
  errors.Start();

  int result = initialize(nullptr);
  if (result != 0) {
    std::fprintf(stderr, "tevpvr-host: Initialize returned %d\n", result);
    close();
    errors.Stop();
    dlclose(handle);
    return 1;
  }
  std::fprintf(stderr, "tevpvr-host: %s running; stop with Ctrl-C\n", argv[1]);
  int sig = WaitForStopSignal(reopenLogs);
  std::fprintf(stderr, "tevpvr-host: signal %d, closing\n", sig);
  close();
  errors.Stop();
  std::fprintf(stderr, "tevpvr-host: closed\n");
  dlclose(handle);
  return 0;
}
