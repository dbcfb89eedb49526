// The module as the host runs it (tevpvr-host loading libTevPVR.so, a
// process of its own) on a database of 100,000 schedule rows filled as
// years of use fill it, with the stand-in peers of this process answering
// at once:
//   1. start-up: from starting the host process until "ZoVIZ" answers a
//      service request, and until the engine's start-up has finished (its
//      "NotifyPVRRecordingChange" to every satellite); goal: services
//      answer within 0.5 s (median of the runs);
//   2. the host's resident memory once idle (3 s after the engine is
//      ready); goal: at most 30 MB (largest of the runs).
// Each run starts a new host process on the same database.
//
// Usage: startup [--runs N] [--rows N]. Prints the figures and PASS/FAIL
// per goal; exits 0 unless the set-up fails.
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "peers/ChildProcess.h"
#include "peers/Peers.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "tests/common/ScheduleTable.h"
#include "vel/VelSatellite.h"

namespace {

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

// "VmRSS" of the process in kB, or -1.
long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// An option's value, else `fallback`.
int Option(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::max(1, std::atoi(argv[i + 1]));
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = Option(argc, argv, "--runs", 5);
  const int rows = Option(argc, argv, "--rows", 100000);
  const std::string folder = bench::MakeDataFolder("startup");
  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "startup: cannot start nats-server\n");
    return 1;
  }
  std::ofstream(folder + "/registry.ini")
      << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
      << "velDirectory.host=127.0.0.1:" << server.Port() << "\n";

  // The database, made as the module makes it, then filled.
  const std::string dbFolder = folder + "/appdata/TevNetworks/TevPVR";
  bool ready = Database(tev::FromStdUtf8(dbFolder)).Open();
  sqlite3* raw = nullptr;
  tev::test::TableShape shape;
  shape.rows = rows;
  shape.folder = folder + "/Recorded TV";
  shape.createFiles = true;  // the folder monitor keeps rows whose files exist
  std::string error;
  ready = ready && sqlite3_open((dbFolder + "/TevPVR.db").c_str(), &raw) == SQLITE_OK &&
          tev::test::FillSchedules(raw, shape, tev::Clock::Now(), &error);
  sqlite3_close_v2(raw);
  const std::wstring host = server.HostPort();
  tev::peers::MediaLibraryPeer media;
  tev::peers::StreamerPeer streamer;
  tev::peers::TVServicePeer tv;
  tev::peers::ListenerPeer listener;
  Client client;
  ready = ready && media.Join(host) == 0 && streamer.Join(host) == 0 && tv.Join(host) == 0 &&
          listener.Join(host) == 0 && client.Connect(host, L"BenchClient") == 0;
  if (!ready) {
    std::fprintf(stderr, "startup: set-up failed %s\n", error.c_str());
    return 1;
  }
  client.SetRequestTimeout(200);

  std::vector<double> answers, engineReady;
  std::vector<long> resident;
  for (int run = 0; run < runs; ++run) {
    const size_t changesBefore = listener.RequestsOf(L"NotifyPVRRecordingChange").size();
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = tev::peers::SpawnQuiet(TEV_HOST_BINARY, {TEV_MODULE_LIBRARY});
    if (pid < 0) {
      std::fprintf(stderr, "startup: cannot start %s\n", TEV_HOST_BINARY);
      return 1;
    }
    double answered = -1;
    while (bench::Micros(begin, std::chrono::steady_clock::now()) < 10e6) {
      AutoVariant in, out, ret;
      VUtil::CreateArray(&in, VT_VARIANT, 0);
      if (client.Request(L"ZoVIZ", L"GetPVRRecordPadding", in, &out, 0, &ret) == 0) {
        answered = bench::Micros(begin, std::chrono::steady_clock::now()) / 1000;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const bool started =
        // The first start offers every row to the stand-in library, which
        // lists none: tens of thousands of records, so it may take a while.
        listener.WaitFor(L"NotifyPVRRecordingChange", changesBefore + 1, 120000);
    const double startedMs = bench::Micros(begin, std::chrono::steady_clock::now()) / 1000;
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long kb = ResidentKb(pid);
    kill(pid, SIGTERM);
    const int status = tev::peers::WaitOrKill(pid, 10000);
    if (answered < 0 || !started || kb < 0) {
      std::fprintf(stderr, "startup: run %d failed (answered %.0f ms, engine %s, exit %d)\n", run,
                   answered, started ? "ready" : "not ready", status);
      continue;
    }
    answers.push_back(answered);
    engineReady.push_back(startedMs);
    resident.push_back(kb);
  }
  client.Disconnect();
  listener.Leave();
  tv.Leave();
  streamer.Leave();
  media.Leave();
  server.Stop();
  std::filesystem::remove_all(folder);

  std::printf("Host start-up with %d schedule rows, %zu of %d runs\n", rows, answers.size(), runs);
  if (answers.empty()) return 1;
  std::vector<double> sortedAnswers = answers;
  std::sort(sortedAnswers.begin(), sortedAnswers.end());
  std::printf("  services answer after: median %.0f ms, min %.0f ms, max %.0f ms\n",
              bench::Median(answers), sortedAnswers.front(), sortedAnswers.back());
  std::printf("  engine start-up done after: median %.0f ms\n", bench::Median(engineReady));
  const long largest = *std::max_element(resident.begin(), resident.end());
  std::printf("  resident memory when idle: largest %.1f MB, smallest %.1f MB\n", largest / 1024.0,
              *std::min_element(resident.begin(), resident.end()) / 1024.0);
  bench::PrintGoal("services answer within 0.5 s of start (median)",
                   bench::Median(answers) <= 500 && answers.size() == static_cast<size_t>(runs));
  bench::PrintGoal("resident memory idle <= 30 MB", largest <= 30 * 1024);
  return 0;
}
