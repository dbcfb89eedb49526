// The recording engine's costs on Schedules tables filled as years of use
// fill them (90 % finished recordings over five years, 10 % scheduled over
// the coming year, a few of those skipped or conflicting), at 100, 10,000
// and 100,000 rows, on one loopback nats-server with stand-in peers that
// answer at once:
//   1. "ScheduleRecording" end to end over the bus, for programmes in the
//      coming days among the scheduled rows, after a warm-up, each call
//      paired with a plain Request of the same size: medians, the growth
//      from 100 to 100,000 rows (goal: at most 2x) and the ratio to the
//      plain round trip at 10,000 rows (goal: at most 10x); also the
//      commits each call makes. The sizes are measured in turn, twice
//      (--cycles), and the samples of each size pooled;
//   2. CheckForScheduleConflicts for a one-hour programme (median);
//   3. at 100,000 rows, the delay between a due start and the "StartStream"
//      request reaching the streamer, over 20 recordings (goal: median
//      50 ms, max 250 ms).
// The module logs nothing here (no logger installed).
//
// Usage: engine [--runs N] [--cycles N] [--synchronous NORMAL|FULL]. The
// last runs the module's connection with that syncing. Prints the figures and PASS/FAIL
// per goal; exits 0 unless the set-up fails.
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSatellites.h"
#include "bench/BenchSupport.h"
#include "bus/CVelAtl.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "monitor/FileSystemMonitor.h"
#include "peers/Peers.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/NatsServer.h"
#include "tests/common/ScheduleTable.h"

namespace {

using bench::Median;
using bench::Micros;
using tev::peers::Value;

using bench::Client;
using bench::Echo;

Value ScheduleRequest(int64_t start, const std::wstring& name) {
  return Value::Array({Value::Str(L"bob"), Value::Str(L"BBC One"), Value::Str(L"ch1"),
                       Value::Date(start), Value::Long(1800000), Value::Str(name),
                       Value::Str(L"Drama"), Value::Str(L"A story"), Value::Str(L"high"),
                       Value::Str(L"t1"), Value::Str(L"Part 1"), Value::Long(2)});
}

// Commits the observed statements make: each write outside begin/commit,
// and each commit.
class CommitCounter {
 public:
  explicit CommitCounter(Database& database) : database_(database) {}
  void Start() {
    database_.ObserveStatements([this](const std::string& sql) { Count(sql); });
  }
  int Stop() {
    database_.ObserveStatements(nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    return commits_;
  }

 private:
  static bool StartsWith(const std::string& sql, const char* word) {
    return strncasecmp(sql.c_str(), word, std::strlen(word)) == 0;
  }
  void Count(const std::string& sql) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (StartsWith(sql, "begin")) {
      inTransaction_ = true;
    } else if (StartsWith(sql, "commit") || StartsWith(sql, "end")) {
      inTransaction_ = false;
      ++commits_;
    } else if (StartsWith(sql, "rollback")) {
      inTransaction_ = false;
    } else if (!inTransaction_ && (StartsWith(sql, "insert") || StartsWith(sql, "update") ||
                                   StartsWith(sql, "delete") || StartsWith(sql, "replace"))) {
      ++commits_;
    }
  }
  Database& database_;
  std::mutex mutex_;
  bool inTransaction_ = false;
  int commits_ = 0;
};

// Samples of one size, pooled over the cycles.
struct Figures {
  int rows = 0;
  std::vector<double> schedule, plain, conflictChecks;  // microseconds
  int failures = 0;
  int commits = 0;
  int calls = 0;
  std::vector<double> dueDelays;  // ms, sorted
  bool ok = false;
};

// Due start to "StartStream": schedule one recording, move the clock to a
// second before it is due, and see when the streamer hears of it.
void MeasureDueStarts(Schedules& engine, tev::test::FakeEnv& env, std::mutex& arrivalsMutex,
                      std::vector<int64_t>& arrivals, Figures* figures) {
  const int padding = GetPaddingTime();
  for (int k = 0; k < 20; ++k) {
    const int64_t start = (tev::Clock::Now() / 60 + 10) * 60;
    ScheduleAnswer out;
    RecordingRequest request;
    request.user = L"bob";
    request.channelName = L"BBC One";
    request.channelMimetype = L"video/x-tv";
    request.channel = L"ch1";
    request.start = start;
    request.duration = 600;
    request.name = L"Due " + std::to_wstring(k);
    request.quality = L"high";
    request.tuner = L"t1";
    request.keepUntil = 2;
    if (engine.Intake().Add(request, &out) != 0) {
      continue;
    }
    const int64_t dueMs = (start + 1 - padding) * 1000;  // stored start is minute + 1
    size_t before;
    {
      std::lock_guard<std::mutex> hold(arrivalsMutex);
      before = arrivals.size();
    }
    env.Shift((dueMs - 1000 - tev::Clock::NowMs()) / 1000);
    for (int wait = 0; wait < 500; ++wait) {
      {
        std::lock_guard<std::mutex> hold(arrivalsMutex);
        if (arrivals.size() > before) {
          figures->dueDelays.push_back(static_cast<double>(arrivals[before] - dueMs));
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Close it at once: a pending stop would be overtaken by the next
    // clock jump and wake the timer early, inside the next due window.
    SQLite close;
    close.RunQuery("UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE' WHERE Status = "
                   "'DVRSTATE_RECORDING'",
                   L"bench");
    engine.StartStop().SetRecordingTimer();
  }
  std::sort(figures->dueDelays.begin(), figures->dueDelays.end());
}

// Adds one cycle's samples at `rows` rows to *figures.
void MeasureAt(int rows, const std::wstring& host, int runs, const std::string& synchronous,
               tev::test::FakeEnv* dueStarts, Figures* result) {
  Figures& figures = *result;
  figures.rows = rows;
  figures.ok = false;
  const std::string folder = bench::MakeDataFolder("engine");
  tev::peers::MediaLibraryPeer media;
  tev::peers::StreamerPeer streamer;
  tev::peers::TVServicePeer tv;
  Echo echo;
  Client client;
  PVRVel pvr;
  tv.SetTuners(std::vector<tev::peers::Tuner>(30, {L"Tuner", L"video/x-tv"}));
  bench::ServeOneChannel(media);
  // When each "StartStream" reached the streamer, on the engine's clock.
  std::mutex arrivalsMutex;
  std::vector<int64_t> arrivals;
  streamer.SetHandler(L"StartStream", [&](const VARIANT& in, VARIANT* out) {
    const int64_t at = tev::Clock::NowMs();
    {
      std::lock_guard<std::mutex> hold(arrivalsMutex);
      arrivals.push_back(at);
    }
    const std::wstring path = VUtil::GetStringElement(in, 11);
    Value::Array({Value::Array({Value::Long(tev::peers::ReadInteger(in, 1)), Value::Str(L"ch1"),
                                Value::Str(path), Value::Long(60), Value(),
                                Value::Pairs({{L"destination", Value::Str(path)}})})})
        .CopyTo(out);
    return 0;
  });

  const std::string dbFolder = folder + "/appdata/TevNetworks/TevPVR";
  std::unique_ptr<Database> database(new Database(tev::FromStdUtf8(dbFolder)));
  bool ready = database->Open();
  if (ready) {
    SQLite pragma;
    pragma.RunQuery(std::string("PRAGMA synchronous=" + synchronous), L"bench");
    sqlite3* raw = nullptr;
    tev::test::TableShape shape;
    shape.rows = rows;
    // Upcoming rows from two days on, out of the way of the due starts.
    shape.upcomingFromHours = 48;
    shape.folder = folder + "/Recorded TV";
    shape.createFiles = true;  // the folder monitor keeps rows whose files exist
    std::string error;
    ready = sqlite3_open((dbFolder + "/TevPVR.db").c_str(), &raw) == SQLITE_OK &&
            tev::test::FillSchedules(raw, shape, tev::Clock::Now(), &error);
    if (!error.empty()) std::fprintf(stderr, "engine: fill failed: %s\n", error.c_str());
    sqlite3_close_v2(raw);
  }
  ready = ready && media.Join(host) == 0 && streamer.Join(host) == 0 && tv.Join(host) == 0 &&
          echo.Connect(host, L"Echo") == 0 && client.Connect(host, L"Client") == 0 &&
          pvr.Vel().Connect(host, L"ZoVIZ") == 0;
  if (!ready) {
    std::fprintf(stderr, "engine: set-up failed at %d rows\n", rows);
  } else {
    PVRVel::SetLive(&pvr);
    Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(folder + "/Recorded TV"));
    Config::SetString(kConfigRecordPadding, L"30");
    Schedules& engine = pvr.GetSchedules();
    const bool started = engine.Initialize();
    // The start-up pass over the folder is the monitor's work, not the
    // requests': measured after it.
    for (int waited = 0; started && waited < 120000; waited += 50) {
      FileSystemMonitor* video = engine.Monitors().Monitor(L"video");
      if (video == nullptr || video->PassCount() > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // 1. Programmes in the coming days, each beside the scheduled rows,
    // alternating with a plain request so that both see the same load.
    const int64_t base = (tev::Clock::Now() / 3600 + 72) * 3600 + 17 * 60;
    const int warmUp = 20;
    CommitCounter commits(*database);
    for (int run = -warmUp; run < runs; ++run) {
      if (run == 0) commits.Start();
      Value in = ScheduleRequest(base + (run + warmUp) * 3600,
                                 L"Bench " + std::to_wstring(run + warmUp));
      AutoVariant out, ret, echoOut, echoRet;
      auto a = std::chrono::steady_clock::now();
      const long bus = client.Request(L"ZoVIZ", L"ScheduleRecording", in.get(), &out, 0, &ret);
      auto b = std::chrono::steady_clock::now();
      client.Request(L"Echo", L"Echo", in.get(), &echoOut, 0, &echoRet);
      auto c = std::chrono::steady_clock::now();
      if (run < 0) continue;
      if (bus != 0 || ret.get().vt != VT_I4 || ret.get().lVal != 0) ++figures.failures;
      figures.schedule.push_back(Micros(a, b));
      figures.plain.push_back(Micros(b, c));
    }
    figures.commits += commits.Stop();
    figures.calls += runs;

    // 2. The conflict check for an hour among the scheduled rows.
    const int64_t programme = base + 5 * 86400;
    for (int run = 0; run <= runs; ++run) {
      ScheduleAnswer list;
      BumpedSet bumped;
      auto a = std::chrono::steady_clock::now();
      engine.Conflicts().CheckForScheduleConflicts(L"Programme", L"tv.99", L"video/x-tv", programme,
                                                   3600, &list, 0, 0, false, false, L"", false,
                                                   false, bumped, tev::Clock::Now());
      auto b = std::chrono::steady_clock::now();
      if (run > 0) figures.conflictChecks.push_back(Micros(a, b));  // the first fills the tuner cache
    }

    // 3. Due starts.
    if (dueStarts != nullptr && started) {
      MeasureDueStarts(engine, *dueStarts, arrivalsMutex, arrivals, &figures);
    }
    engine.Shutdown();
    PVRVel::SetLive(nullptr);
    figures.ok = true;
  }
  pvr.Vel().Disconnect();
  client.Disconnect();
  echo.Disconnect();
  media.Leave();
  streamer.Leave();
  tv.Leave();
  database.reset();
  std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  // Due times are reached by moving the clock, not by waiting.
  tev::test::FakeEnv env;
  const int runs = bench::Runs(argc, argv, 100);
  std::string synchronous = "FULL";  // as the module runs
  int cycles = 2;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--synchronous") == 0) synchronous = argv[i + 1];
    if (std::strcmp(argv[i], "--cycles") == 0) cycles = std::max(1, std::atoi(argv[i + 1]));
  }
  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "engine: cannot start nats-server\n");
    return 1;
  }
  // The sizes in turn, `cycles` times, so that a change of load on a shared
  // machine falls on all of them.
  const int sizes[] = {100, 10000, 100000};
  std::vector<Figures> all(3);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    for (size_t k = 0; k < all.size(); ++k) {
      const bool last = cycle == cycles - 1 && sizes[k] == 100000;
      MeasureAt(sizes[k], server.HostPort(), runs, synchronous, last ? &env : nullptr, &all[k]);
      if (!all[k].ok) return 1;
    }
  }
  server.Stop();

  std::printf("ScheduleRecording over the bus, %d runs per size in each of %d cycles, "
              "synchronous=%s\n",
              runs, cycles, synchronous.c_str());
  std::printf("  %8s %12s %12s %8s %9s %14s\n", "rows", "median us", "plain us", "ratio",
              "commits", "conflicts us");
  for (const Figures& f : all) {
    std::printf("  %8d %12.1f %12.1f %8.2f %9.2f %14.1f%s\n", f.rows, Median(f.schedule),
                Median(f.plain), Median(f.schedule) / Median(f.plain),
                static_cast<double>(f.commits) / f.calls, Median(f.conflictChecks),
                f.failures != 0 ? "  (some calls failed)" : "");
  }
  const Figures& small = all[0];
  const Figures& middle = all[1];
  const Figures& large = all[2];
  const double growth = Median(large.schedule) / Median(small.schedule);
  std::printf("  growth 100 -> 100,000 rows: %.2fx\n", growth);
  bench::PrintGoal("ScheduleRecording at 100,000 rows <= 2x its cost at 100 rows",
                   growth <= 2.0 && large.failures == 0 && small.failures == 0);
  bench::PrintGoal("ScheduleRecording at 10,000 rows <= 10x a plain round trip",
                   Median(middle.schedule) <= 10.0 * Median(middle.plain) && middle.failures == 0);

  const std::vector<double>& delays = large.dueDelays;
  std::printf("Due start to StartStream at 100,000 rows, %zu of 20 recordings started\n",
              delays.size());
  if (!delays.empty()) {
    std::printf("  median %.0f ms, min %.0f ms, max %.0f ms\n", Median(delays), delays.front(),
                delays.back());
  }
  bench::PrintGoal("StartStream within 50 ms (median) and 250 ms (max) of the due time",
                   delays.size() == 20 && Median(delays) <= 50 && delays.back() <= 250);
  return 0;
}
