// The recording engine's costs with 10,000 rows in the Schedules table, on
// one loopback nats-server with stand-in peers answering at once:
//   1. "ScheduleRecording" end to end over the bus beside a plain Request of
//      the same size (goal: at most 10x, median);
//   2. CheckForScheduleConflicts for a one-hour programme against 50
//      overlapping rows (median);
//   3. the delay between a due start and the "StartStream" request reaching
//      the streamer, over 20 recordings (goal: median 50 ms, max 250 ms).
// The module logs nothing here (no logger installed).
//
// Usage: engine [--runs N]. Prints the figures and PASS/FAIL per goal;
// exits 0 unless the set-up fails.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "peers/Peers.h"
#include "platform/Clock.h"
#include "support/VUtil.h"
#include "support/WideText.h"
#include "bench/BenchSupport.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/NatsServer.h"

namespace {

using tev::peers::Value;

// Answers every call with one text of a medium id's size.
class Echo : public VelSatellite {
 public:
  void DefineServices() override { AddService(L"Echo", L"Echo", new Reply); }

 private:
  struct Reply : VelSatelliteDelegateGeneric {
    int invoke(const std::wstring&, const VARIANT&, VARIANT* out) override {
      Value::Str(L"M12345").CopyTo(out);
      return 0;
    }
  };
};

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

int64_t LocalNoon(int year, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = 0;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

// 9,950 rows spread over other days and 50 around `programme`.
void FillTable(int64_t programme) {
  SQLite query;
  query.Begin(L"bench");
  for (int i = 0; i < 10000; ++i) {
    const bool overlapping = i % 200 == 0;
    const int64_t start = overlapping ? programme - 1800 + (i / 200) * 60
                                      : LocalNoon(2031, 1 + i % 19) + (i % 7) * 3600;
    query.RunQuery(
        tev::FromStdUtf8("INSERT INTO Schedules (Name, Channel, ChannelName, ChannelMimetype, "
                         "StartTime, Duration, EndTime, Status, Owner, FilePath, KeepUntil) "
                         "VALUES ('Show " + std::to_string(i) + "', 'tv." +
                         std::to_string(i % 40) + "', 'Channel', 'video/x-tv', " +
                         tev::ToStdUtf8(FormatTime3(start)) + ", 3600, " +
                         tev::ToStdUtf8(FormatTime3(start + 3600)) +
                         ", 'DVRSTATE_SCHEDULED', '', '/rec/" + std::to_string(i) +
                         ".asf', 1)"),
        L"bench");
  }
  query.Commit(L"bench");
}

Value ScheduleRequest(int64_t start, const std::wstring& name) {
  return Value::Array({Value::Str(L"bob"), Value::Str(L"BBC One"), Value::Str(L"ch1"),
                       Value::Date(start), Value::Long(60000), Value::Str(name),
                       Value::Str(L"Drama"), Value::Str(L"A story"), Value::Str(L"high"),
                       Value::Str(L"t1"), Value::Str(L"Part 1"), Value::Long(2)});
}

}  // namespace

using bench::Median;
using bench::Micros;
using bench::PrintGoal;

int main(int argc, char** argv) {
  // Due times are reached by moving the clock, not by waiting.
  tev::test::FakeEnv env;
  const int runs = bench::Runs(argc, argv, 200);
  const std::string folder = bench::MakeDataFolder("engine");

  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "engine: cannot start nats-server\n");
    return 1;
  }
  const std::wstring host = server.HostPort();
  int status = 1;
  {
    tev::peers::MediaLibraryPeer media;
    tev::peers::StreamerPeer streamer;
    tev::peers::TVServicePeer tv;
    Echo echo;
    Client client;
    PVRVel pvr;
    std::vector<tev::peers::Tuner> tuners(30, {L"Tuner", L"video/x-tv"});
    tv.SetTuners(tuners);
    Value record = Value::Array({Value::Str(L"ch"), Value::Str(L""), Value::Str(L"tv.channel"),
                                 Value::Str(L""), Value::Str(L"T7"), Value::Str(L"PG"),
                                 Value::Str(L"news")});
    media.SetReply(L"SearchMedia", 0,
                   Value::Array({Value::Array({Value::Long(1), Value(), Value(), Value(),
                                               Value::Array({record})})}));
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
      Value::Array({Value::Array({Value::Long(tev::peers::ReadInteger(in, 1)),
                                  Value::Str(L"ch1"), Value::Str(path), Value::Long(60), Value(),
                                  Value::Pairs({{L"destination", Value::Str(path)}})})})
          .CopyTo(out);
      return 0;
    });
    const bool joined =
        SQLite::Initialize(tev::FromStdUtf8(folder + "/appdata/TevNetworks/TevPVR")) &&
        media.Join(host) == 0 && streamer.Join(host) == 0 && tv.Join(host) == 0 &&
        echo.Connect(host, L"Echo") == 0 && client.Connect(host, L"Client") == 0 &&
        pvr.Vel().Connect(host, L"ZoVIZ") == 0;
    if (!joined) {
      std::fprintf(stderr, "engine: set-up failed\n");
    } else {
      PVRVel::SetLive(&pvr);
      Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(folder + "/Recorded TV"));
      Config::SetString(kConfigRecordPadding, L"30");
      DVR::ResetRecordingDirectoryCache();
      const int64_t programme = LocalNoon(2031, 20);
      FillTable(programme);
      Schedules& engine = pvr.GetSchedules();
      const bool started = engine.Initialize();

      // 1. ScheduleRecording against a plain request of the same size.
      std::vector<double> schedule, plain;
      int failures = 0;
      const int64_t base = LocalNoon(2030, 1);
      for (int run = 0; run < runs; ++run) {
        Value in = ScheduleRequest(base + run * 7200, L"Bench " + std::to_wstring(run));
        AutoVariant out, ret, echoOut, echoRet;
        auto a = std::chrono::steady_clock::now();
        const long bus = client.Request(L"ZoVIZ", L"ScheduleRecording", in.get(), &out, 0, &ret);
        auto b = std::chrono::steady_clock::now();
        client.Request(L"Echo", L"Echo", in.get(), &echoOut, 0, &echoRet);
        auto c = std::chrono::steady_clock::now();
        if (bus != 0 || ret.get().vt != VT_I4 || ret.get().lVal != 0) ++failures;
        schedule.push_back(Micros(a, b));
        plain.push_back(Micros(b, c));
      }
      const double ratio = Median(schedule) / Median(plain);
      std::printf("ScheduleRecording over the bus, 10000 rows, %d runs (%d failed)\n", runs,
                  failures);
      std::printf("  median %.1f us; plain Request %.1f us; ratio %.2f\n", Median(schedule),
                  Median(plain), ratio);
      PrintGoal("ScheduleRecording <= 10x plain round trip", ratio <= 10.0 && failures == 0);

      // 2. The conflict check.
      std::vector<double> checks;
      int result = 0;
      for (int run = 0; run <= runs; ++run) {
        AutoVariant list;
        BumpedSet bumped;
        auto a = std::chrono::steady_clock::now();
        result = engine.CheckForScheduleConflicts(L"Programme", L"tv.99", L"video/x-tv",
                                                  programme, 3600, &list, 0, 0, false, false,
                                                  L"", false, false, bumped);
        auto b = std::chrono::steady_clock::now();
        if (run > 0) checks.push_back(Micros(a, b));  // the first fills the tuner cache
      }
      std::printf("CheckForScheduleConflicts, 1 h programme, 50 overlapping rows, %d runs\n",
                  runs);
      std::printf("  result %d; median %.1f us\n", result, Median(checks));

      // 3. Due start to "StartStream": schedule one recording, move the
      // clock to a second before it is due, and see when the streamer hears.
      std::vector<double> delays;
      const int padding = GetPaddingTime();
      for (int k = 0; k < 20 && started; ++k) {
        const int64_t start = (tev::Clock::Now() / 60 + 10) * 60;
        AutoVariant out;
        if (engine.Add(L"bob", L"BBC One", L"video/x-tv", L"ch1", L"", L"", L"", start, 600,
                       L"Due " + std::to_wstring(k), L"", L"", L"high", L"t1", L"", 2, 0, L"",
                       false, &out, false, 0) != 0) {
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
              delays.push_back(static_cast<double>(arrivals[before] - dueMs));
              break;
            }
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Close it at once: a pending stop would be overtaken by the next
        // clock jump and wake the timer early, inside the next due window.
        SQLite close;
        close.RunQuery(L"UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE' WHERE Status = "
                       L"'DVRSTATE_RECORDING'",
                       L"bench");
        engine.SetRecordingTimer();
      }
      std::vector<double> sorted = delays;
      std::sort(sorted.begin(), sorted.end());
      std::printf("Due start to StartStream, %zu of 20 recordings started\n", delays.size());
      if (!sorted.empty()) {
        std::printf("  median %.0f ms, min %.0f ms, max %.0f ms\n", Median(sorted),
                    sorted.front(), sorted.back());
      }
      PrintGoal("StartStream within 50 ms (median) and 250 ms (max) of the due time",
                sorted.size() == 20 && Median(sorted) <= 50 && sorted.back() <= 250);
      engine.Shutdown();
      PVRVel::SetLive(nullptr);
      status = 0;
    }
    pvr.Vel().Disconnect();
    client.Disconnect();
    echo.Disconnect();
    media.Leave();
    streamer.Leave();
    tv.Leave();
    SQLite::Close();
  }
  server.Stop();
  std::filesystem::remove_all(folder);
  return status;
}
