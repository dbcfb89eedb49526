// Median time of one CheckForScheduleConflicts for a one-hour television
// programme against 50 overlapping schedules in a 10,000-row table, with
// the tuner count answered by a stand-in TV service on a loopback
// nats-server (cached by the engine after the first call).
//
// Usage: conflicts [--runs N]. Prints the figures; always exits 0 unless
// the set-up fails.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "engine/Schedules.h"
#include "support/VUtil.h"
#include "support/WideText.h"

extern char** environ;

namespace {

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

// One TV tuner; the bench's only peer.
class TvService : public VelSatellite {
 public:
  void DefineServices() override { AddService(L"GetTVInfo", L"GetTVInfo", &Answer); }

 private:
  static int Answer(const std::wstring&, const VARIANT&, VARIANT* out) {
    AutoVariant info, tuner;
    VUtil::CreateArray(&tuner, VT_VARIANT, 3);
    VUtil::PutElement(&tuner, 2, L"video/x-tv");
    VUtil::CreateArray(&info, VT_VARIANT, 2);
    VUtil::PutElement(&info, 0, static_cast<int32_t>(1));
    VUtil::PutElement(&info, 1, tuner.get());
    VUtil::CreateArray(out, VT_VARIANT, 1);
    VUtil::PutElement(out, 0, info.get());
    return 0;
  }
};

int64_t LocalNoon(int day) {
  std::tm t{};
  t.tm_year = 130;
  t.tm_mon = 0;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 200;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }

  char pattern[] = "/tmp/tev-bench-conflicts-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const int port = FreePort();
  const std::string portText = std::to_string(port);
  const char* serverArgs[] = {"nats-server", "-a", "127.0.0.1", "-p", portText.c_str(), nullptr};
  pid_t server = 0;
  if (posix_spawnp(&server, "nats-server", nullptr, nullptr, const_cast<char**>(serverArgs),
                   environ) != 0) {
    std::fprintf(stderr, "conflicts: cannot start nats-server\n");
    return 1;
  }
  for (int i = 0; i < 100 && !Accepts(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int status = 1;
  {
    const std::wstring host = L"127.0.0.1:" + std::to_wstring(port);
    TvService tv;
    CVelAtl vel(nullptr);
    if (!SQLite::Initialize(tev::FromStdUtf8(folder)) || tv.Connect(host, L"TevTV") != 0 ||
        vel.Connect(host, L"ZoVIZ") != 0) {
      std::fprintf(stderr, "conflicts: set-up failed\n");
    } else {
      SetTheVelForTest(&vel);
      // 10,000 rows: 9,950 spread over other days, 50 around the programme.
      const int64_t programme = LocalNoon(20);
      SQLite query;
      query.Begin(L"bench");
      for (int i = 0; i < 10000; ++i) {
        const bool overlapping = i % 200 == 0;
        const int64_t start = overlapping ? programme - 1800 + (i / 200) * 60
                                          : LocalNoon(1 + i % 19) + (i % 7) * 3600;
        wchar_t statement[1024];
        swprintf(statement, 1024,
                 L"INSERT INTO Schedules (Name, Channel, ChannelName, ChannelMimetype, "
                 L"StartTime, Duration, EndTime, Status, Owner, FilePath, KeepUntil) VALUES "
                 L"('Show %d', 'tv.%d', 'Channel %d', 'video/x-tv', %ls, 3600, %ls, "
                 L"'DVRSTATE_SCHEDULED', '', '/rec/%d.wmv', 1)",
                 i, i % 40, i % 40, FormatTime3(start).c_str(),
                 FormatTime3(start + 3600).c_str(), i);
        query.RunQuery(statement, L"bench");
      }
      query.Commit(L"bench");

      Schedules engine;
      std::vector<double> micros;
      int result = 0;
      long listed = 0;
      for (int run = 0; run <= runs; ++run) {
        AutoVariant list;
        BumpedSet bumped;
        auto begin = std::chrono::steady_clock::now();
        result = engine.CheckForScheduleConflicts(L"Programme", L"tv.99", L"video/x-tv",
                                                  programme, 3600, &list, 0, 0, false, false,
                                                  L"", false, false, bumped);
        auto end = std::chrono::steady_clock::now();
        if (run == 0) continue;  // the first call fills the tuner cache over the bus
        micros.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
        listed = list.get().vt == VT_EMPTY ? 0 : VUtil::GetArrayLength(list.get());
      }
      std::sort(micros.begin(), micros.end());
      std::printf("CheckForScheduleConflicts, 1 h programme, 50 overlapping of 10000 rows, %d runs\n",
                  runs);
      std::printf("  result %d, %ld schedules listed\n", result, listed);
      std::printf("  median %.1f us, min %.1f us, max %.1f us\n", micros[micros.size() / 2],
                  micros.front(), micros.back());
      SetTheVelForTest(nullptr);
      status = 0;
    }
    vel.Disconnect();
    tv.Disconnect();
    SQLite::Close();
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::system(("rm -rf '" + folder + "'").c_str());
  return status;
}
