// One folder-monitor pass over a video folder of 10,000 recording files,
// with 10,000 rows in the Schedules table: 9,000 rows name files on disk,
// 1,000 name files that are gone, and 1,000 files are new. The pass adopts
// the new files (published in batches), drops the gone rows (one media
// request) and, being the first of the run, fills the thumbnail table. Stand-in peers answer at once on a loopback
// nats-server; they run in a child process, as peers are other programs,
// so that the resident memory measured is the module's alone. Figures: the
// pass time and the module process's resident memory before and after.
// Goals: pass <= 2 s; resident memory grows <= 5 MB. A second
// (steady-state) pass is timed for information.
//
// Usage: monitor. Exits 0 unless the set-up fails.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "monitor/FileSystemMonitor.h"
#include "peers/Peers.h"
#include "platform/WideText.h"
#include "tests/common/NatsServer.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kKnown = 9000;
constexpr int kGoneRows = 1000;

std::string FileName(int i) {
  return "Show " + std::to_string(i) + "_Channel_03-04-2008 20-00-01 Tev.asf";
}

double ResidentMegabytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void FillFolderAndTable(const std::string& folder) {
  for (int i = 0; i < kFiles; ++i) std::ofstream(folder + "/" + FileName(i)) << "x";
  SQLite query;
  query.Begin(L"bench");
  auto row = [&](int i) {
    query.RunQuery(
        std::string("INSERT INTO Schedules (TevMediumId, Name, ChannelName, ChannelMimetype, "
                         "StartTime, Duration, EndTime, Status, FilePath, KeepUntil, Type) VALUES "
                         "('M" + std::to_string(i) + "', 'Show " + std::to_string(i) +
                         "', 'Channel', 'video/x-tv', 20080304200001, 3600, 20080304210001, "
                         "'DVRSTATE_COMPLETE', '" + folder + "/" + FileName(i) + "', 1, 'Manual')"),
        L"bench");
  };
  for (int i = 0; i < kKnown; ++i) row(i);
  for (int i = kFiles; i < kFiles + kGoneRows; ++i) row(i);
  query.Commit(L"bench");
}

// The stand-in peers, in a child process: joins, reports ready on `ready`,
// then waits for `quit` to close and prints what they were asked.
[[noreturn]] void RunPeers(const std::wstring& host, int ready, int quit) {
  int code = 1;
  {
    tev::peers::MediaLibraryPeer media;
    tev::peers::ThumbnailPeer thumbnails;
    const char joined = media.Join(host) == 0 && thumbnails.Join(host) == 0 ? 'R' : 'F';
    (void)!write(ready, &joined, 1);
    char any;
    (void)!read(quit, &any, 1);
    std::printf("  peers were asked (both passes): %zu AddMedia, %zu thumbnails, %zu media "
                "requests for gone rows, %zu thumbnail queries\n",
                media.CountOf(L"AddMedia"), thumbnails.CountOf(L"Extract Image From Video"),
                media.CountOf(L"SetMediaAttributeList") + media.CountOf(L"RemoveImportedMedia"),
                thumbnails.CountOf(L"Are Thumbnails In DB"));
    std::fflush(stdout);
    media.Leave();
    thumbnails.Leave();
    code = joined == 'R' ? 0 : 1;
  }
  _exit(code);
}

}  // namespace

int main() {
  const std::string data = bench::MakeDataFolder("monitor");
  const std::string folder = data + "/Recorded TV";
  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "monitor: cannot start nats-server\n");
    return 1;
  }
  const std::wstring host = server.HostPort();
  int ready[2], quit[2];
  if (pipe(ready) != 0 || pipe(quit) != 0) return 1;
  std::fflush(stdout);
  const pid_t peers = fork();
  if (peers == 0) RunPeers(host, ready[1], quit[0]);
  char peersReady = 'F';
  if (peers < 0 || read(ready[0], &peersReady, 1) != 1) peersReady = 'F';
  int status = 1;
  {
    PVRVel pvr;
    Database database(tev::FromStdUtf8(data + "/appdata/TevNetworks/TevPVR"));
    const bool joined =
        peersReady == 'R' &&
        database.Open() &&
        pvr.Vel().Connect(host, L"ZoVIZ") == 0;
    if (!joined) {
      std::fprintf(stderr, "monitor: set-up failed\n");
    } else {
      PVRVel::SetLive(&pvr);
      Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(folder));
      Schedules& engine = pvr.GetSchedules();
      engine.Folders().LoadFolders();
      FillFolderAndTable(folder);

      FileSystemMonitor monitor(&engine.Monitors());
      monitor.ChangeFolder(L"video");
      const double rssBefore = ResidentMegabytes();
      auto a = std::chrono::steady_clock::now();
      monitor.RunPass();
      auto b = std::chrono::steady_clock::now();
      const double rssAfter = ResidentMegabytes();
      monitor.RunPass();
      auto c = std::chrono::steady_clock::now();

      SQLite count;
      count.RunQuery("SELECT count(*) AS n FROM Schedules", L"bench");
      const int rows = count.GetInt("n");
      const double passMs = bench::Micros(a, b) / 1000.0;
      std::printf("Folder monitor pass: %d files, %d known rows, %d rows of gone files\n", kFiles,
                  kKnown, kGoneRows);
      std::printf("  first pass %.0f ms; rows after: %d\n", passMs, rows);
      std::printf("  second pass %.0f ms\n", bench::Micros(b, c) / 1000.0);
      std::printf("  resident memory %.1f MB before, %.1f MB after (+%.1f MB)\n", rssBefore,
                  rssAfter, rssAfter - rssBefore);
      bench::PrintGoal("pass <= 2 s", passMs <= 2000.0 && rows == kFiles);
      bench::PrintGoal("resident memory grows <= 5 MB", rssAfter - rssBefore <= 5.0);
      status = 0;
      PVRVel::SetLive(nullptr);
    }
    pvr.Vel().Disconnect();
  }
  std::fflush(stdout);
  if (peers > 0) {
    (void)!write(quit[1], "Q", 1);
    waitpid(peers, nullptr, 0);
  }
  std::string rm = "rm -rf '" + data + "'";
  (void)!std::system(rm.c_str());
  return status;
}
