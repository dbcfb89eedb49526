// The recorder control's own costs, on one loopback nats-server:
//   1. DVR::ConstructUniqueFileName with 10,000 rows in the Schedules table
//      of which 9 hold the names of iterations 0 to 8 (median);
//   2. one DVR::StartRecording + DVR::StopRecording round trip against a
//      scripted streamer, beside two plain Requests of the same payloads to
//      a satellite that answers them alike, through the same endpoint and
//      in the same runs. The difference is the recorder's overhead; goal:
//      below 20% of the two plain round trips (medians).
// The module logs nothing here (no logger installed).
//
// Usage: recorder [--runs N]. Prints the figures and PASS/FAIL; exits 0
// unless the set-up fails.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bus/CVelAtl.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "module/PVRVel.h"
#include "peers/Peers.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"

namespace {

using tev::peers::Value;

typedef std::chrono::steady_clock SteadyClock;

const wchar_t kMimetype[] = L"video/x-tv";
const wchar_t kChannelName[] = L"Channel 4";
const wchar_t kName[] = L"News";

int64_t LocalTime(int year, int month, int day, int hour) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

// 10,000 rows: the names of iterations 0..8 of (kName, kChannelName,
// `start`) and 9,991 others.
void FillTable(DVR& recorder, int64_t start) {
  SQLite query;
  query.Begin(L"bench");
  for (int i = 0; i < 10000; ++i) {
    const std::wstring path =
        i < 9 ? recorder.MakeRecordingFileName(kMimetype, kChannelName, kName, start, i)
              : recorder.MakeRecordingFileName(kMimetype, kChannelName,
                                               L"Show " + std::to_wstring(i),
                                               start + (i % 97) * 3600, 0);
    const int64_t at = start + (i % 97) * 3600;
    query.RunQuery(
        std::string("INSERT INTO Schedules (Name, Channel, ChannelName, ChannelMimetype, "
                         "StartTime, Duration, EndTime, Status, Owner, FilePath, KeepUntil) "
                         "VALUES ('Show " + std::to_string(i) + "', 'tv." +
                         std::to_string(i % 40) + "', 'Channel 4', 'video/x-tv', " +
                         tev::ToStdUtf8(FormatTime3(at)) + ", 3600, " +
                         tev::ToStdUtf8(FormatTime3(at + 3600)) + ", 'DVRSTATE_SCHEDULED', '', ?, 1)"),
        {path}, L"bench");
  }
  query.Commit(L"bench");
}

// The "StartStream" request exactly as StartGeneralRecording builds it.
Value StartRequest(int32_t id, const std::wstring& path) {
  const wchar_t* const settings[][2] = {
      {L"audioContainer", L"asf"}, {L"audioCodec", L"wma"}, {L"audioExtension", L"wma"},
      {L"videoContainer", L"asf"}, {L"videoCodec", L"wmv"}, {L"videoAudioCodec", L"wma"},
      {L"videoExtension", L"wmv"}, {L"bitrate", L"1500"},   {L"x", L"1920"},
      {L"y", L"1080"},             {L"scale", L"auto"},     {L"crop", L"no"}};
  std::vector<std::pair<std::wstring, Value>> pairs;
  for (const auto& pair : settings) pairs.emplace_back(pair[0], Value::Str(pair[1]));
  std::vector<Value> in(13);
  in[0] = Value::Str(L"bob");
  in[1] = Value::Long(id);
  in[2] = Value::Str(L"pvr");
  in[3] = Value::Str(L"ch-test");
  in[6] = Value::Pairs(pairs);
  in[10] = Value::Long(60);
  in[11] = Value::Str(path);
  in[12] = Value::Str(L"");
  return Value::Array(in);
}

// Makes `peer` answer "StartStream" with `reply` and "StopStream" with 0,
// at the same cost for the streamer and for the plain partner.
void Script(tev::peers::ScriptedPeer& peer, const Value& reply) {
  peer.SetReply(L"StartStream", 0, reply);
  peer.SetReply(L"StopStream", 0);
}

}  // namespace

using bench::Median;
using bench::Micros;
using bench::PrintGoal;

int main(int argc, char** argv) {
  const int runs = bench::Runs(argc, argv, 500);
  const std::string folder = bench::MakeDataFolder("recorder");

  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "recorder: cannot start nats-server\n");
    return 1;
  }
  const std::wstring host = server.HostPort();
  int status = 1;
  {
    tev::peers::StreamerPeer streamer;
    tev::peers::ScriptedPeer plain(L"Plain", {L"StartStream", L"StopStream"});
    PVRVel pvr;
    Database database(tev::FromStdUtf8(folder + "/appdata/TevNetworks/TevPVR"));
    const bool joined =
        database.Open() &&
        streamer.Join(host) == 0 && plain.Join(host) == 0 &&
        pvr.Vel().Connect(host, L"ZoVIZ") == 0;
    if (!joined) {
      std::fprintf(stderr, "recorder: set-up failed\n");
    } else {
      PVRVel::SetLive(&pvr);
      Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(folder + "/Recorded TV"));

      // 1. A unique name past 9 taken ones.
      const int64_t start = LocalTime(2031, 3, 4, 20);
      DVR& dvr = pvr.Recorder();
      FillTable(dvr, start);
      const std::wstring expected =
          dvr.MakeRecordingFileName(kMimetype, kChannelName, kName, start, 9);
      std::vector<double> unique, first;
      bool right = true;
      for (int run = 0; run < runs; ++run) {
        auto a = SteadyClock::now();
        const std::wstring name =
            dvr.ConstructUniqueFileName(kMimetype, kChannelName, kName, start, 0);
        auto b = SteadyClock::now();
        dvr.ConstructUniqueFileName(kMimetype, kChannelName, L"Fresh", start, 0);
        auto c = SteadyClock::now();
        right = right && name == expected;
        unique.push_back(Micros(a, b));
        first.push_back(Micros(b, c));
      }
      std::printf("ConstructUniqueFileName, 10000 rows, 9 colliding names, %d runs\n", runs);
      std::printf("  median %.1f us (%s); a name free at once %.1f us\n", Median(unique),
                  right ? "iteration 9 as expected" : "WRONG NAME", Median(first));

      // 2. Start and stop through the recorder against two plain requests.
      const std::wstring path = tev::FromStdUtf8(folder) + L"/Recorded TV/Bench Tev.asf";
      const Value stopIn = Value::Array({Value::Long(1)});
      Value reply = Value::Array({Value::Array(
          {Value::Long(1), Value::Str(L"ch-test"), Value::Str(path), Value::Long(60), Value(),
           Value::Pairs({{L"destination", Value::Str(path)}})})});
      Script(streamer, reply);
      Script(plain, reply);
      PeerClient* vel = &pvr.Peers();
      std::vector<double> recorder, requests;
      int failures = 0;
      for (int run = 0; run <= runs; ++run) {
        std::wstring file = path;
        const Value startIn = StartRequest(static_cast<int32_t>(run + 1), path);
        AutoVariant startOut, startRet, stopOut, stopRet;
        auto a = SteadyClock::now();
        const int started = dvr.StartRecording(L"bob", L"", kMimetype, &file, L"ch-test",
                                                    60, L"high", false, L"");
        const int stopped = dvr.StopRecording(file);
        auto b = SteadyClock::now();
        const long busStart =
            vel->Request(L"Plain", L"StartStream", startIn.get(), &startOut, &startRet);
        const long busStop =
            vel->Request(L"Plain", L"StopStream", stopIn.get(), &stopOut, &stopRet);
        auto c = SteadyClock::now();
        if (started != 0 || stopped != 0 || busStart != 0 || busStop != 0) ++failures;
        if (run == 0) continue;  // warms both paths up
        recorder.push_back(Micros(a, b));
        requests.push_back(Micros(b, c));
      }
      const double overhead = (Median(recorder) - Median(requests)) / Median(requests) * 100.0;
      std::printf("StartRecording + StopRecording against the scripted streamer, %d runs "
                  "(%d failed)\n",
                  runs, failures);
      std::printf("  median %.1f us; two plain Requests %.1f us; recorder overhead %.1f%%\n",
                  Median(recorder), Median(requests), overhead);
      PrintGoal("recorder overhead below 20% of the two plain round trips",
                overhead < 20.0 && failures == 0 && right);
      PVRVel::SetLive(nullptr);
      status = 0;
    }
    pvr.Vel().Disconnect();
    streamer.Leave();
    plain.Leave();
  }
  server.Stop();
  std::filesystem::remove_all(folder);
  return status;
}
