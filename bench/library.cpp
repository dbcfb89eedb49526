// The media-library link with 10,000 rows in the Schedules table, on one
// loopback nats-server with the tev-peers media library (its own store)
// answering in this process:
//   1. one SyncWithTevMedia against 10,000 library media of which 100 match
//      no row (orphans) while 100 rows are missing in the library (goal:
//      at most 2 s);
//   2. "GetFileListInfoFromId" for 100 ids and "UpdateMedium" with one
//      "title" pair, each over the bus beside a plain Request of the same
//      payloads answered alike (goal: at most 5x, medians).
// The module logs nothing here (no logger installed).
//
// Usage: library [--runs N]. Prints the figures and PASS/FAIL per goal;
// exits 0 unless the set-up fails.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bus/CVelAtl.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "peers/MediaStore.h"
#include "peers/Peers.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"

namespace {

using nlohmann::json;
using tev::peers::Value;

typedef std::chrono::steady_clock SteadyClock;

constexpr int kRows = 10000;
constexpr int kMissing = 100;  // rows whose medium the library lost
constexpr int kOrphans = 100;  // library media that match no row

// Not the library's own "M<n>" form, which it hands out to new media.
std::string MediumId(int i) { return "L" + std::to_string(i); }

// Rows 0..kRows-1, published as M<i>, a day apart in groups so that they
// do not all overlap.
void FillTable(const std::string& folder, int64_t start) {
  SQLite query;
  query.Begin(L"bench");
  for (int i = 0; i < kRows; ++i) {
    const int64_t at = start + (i % 500) * 3600;
    query.RunQuery(
        std::string(
            "INSERT INTO Schedules (TevMediumId, Name, Channel, ChannelName, ChannelMimetype, "
            "StartTime, Duration, EndTime, Status, Owner, FilePath, KeepUntil, Type, User) "
            "VALUES ('" + MediumId(i) + "', 'Show " + std::to_string(i) +
            "', 'ch1', 'Channel 4', 'video/x-tv', " + tev::ToStdUtf8(FormatTime3(at)) +
            ", 3600, " + tev::ToStdUtf8(FormatTime3(at + 3600)) +
            ", 'DVRSTATE_SCHEDULED', '', '" + folder + "/Recorded TV/Show " + std::to_string(i) +
            ".asf', 2, 'Automatic', 'bob')"),
        L"bench");
  }
  query.Commit(L"bench");
}

// The library's view: every row but the last kMissing, and kOrphans more.
void FillLibrary(tev::peers::MediaStore& store) {
  for (int i = 0; i < kRows - kMissing + kOrphans; ++i) {
    const bool orphan = i >= kRows - kMissing;
    const std::string id = orphan ? "X" + std::to_string(i) : MediumId(i);
    store.Put(tev::FromStdUtf8(id), L"PVR",
              {{"tevMediumId", id},
               {"title", "Show " + std::to_string(i)},
               {"pvrState", "schedule"},
               {"mediaType", "schedule.video.file.recorded.tv"},
               {"sourceSatellite", "ZoVIZ"},
               {"updateCallback", "UpdateMedium"}});
  }
}

// Round trips of `method` with `in` to the module and to the plain partner
// (which answers with the module's own first reply), alternating; medians
// in microseconds. False when a request failed.
bool Compare(tev::peers::ScriptedPeer& client, tev::peers::ScriptedPeer& plain,
             const std::wstring& method, const std::vector<Value>& ins, double* module,
             double* partner) {
  std::vector<double> a, b;
  bool ok = true;
  for (size_t run = 0; run < ins.size(); ++run) {
    AutoVariant out1, ret1, out2, ret2;
    auto t0 = SteadyClock::now();
    const long bus1 = client.Request(L"ZoVIZ", method, ins[run].get(), &out1, 0, &ret1);
    auto t1 = SteadyClock::now();
    if (run == 0) plain.SetReply(method, 0, Value(out1.get()));
    auto t2 = SteadyClock::now();
    const long bus2 = client.Request(L"Plain", method, ins[run].get(), &out2, 0, &ret2);
    auto t3 = SteadyClock::now();
    ok = ok && bus1 == 0 && bus2 == 0 && VUtil::GetSingleRetcode(ret1) == 0;
    if (run == 0) continue;  // warms both paths up
    a.push_back(bench::Micros(t0, t1));
    b.push_back(bench::Micros(t2, t3));
  }
  *module = bench::Median(a);
  *partner = bench::Median(b);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = bench::Runs(argc, argv, 300);
  const std::string folder = bench::MakeDataFolder("library");

  tev::test::NatsServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "library: cannot start nats-server\n");
    return 1;
  }
  const std::wstring host = server.HostPort();
  int status = 1;
  {
    std::string error;
    tev::peers::MediaStore store;
    tev::peers::MediaLibraryPeer library;
    tev::peers::ScriptedPeer plain(L"Plain", {L"GetFileListInfoFromId", L"UpdateMedium"});
    tev::peers::ScriptedPeer client(L"Client", {});
    PVRVel pvr;
    Database database(tev::FromStdUtf8(folder + "/appdata/TevNetworks/TevPVR"));
    const bool ready =
        database.Open() &&
        store.Open(folder + "/media.db", &error);
    if (ready) store.Attach(library);
    const bool joined = ready && library.Join(host) == 0 && plain.Join(host) == 0 &&
                        client.Join(host) == 0 && pvr.Vel().Connect(host, L"ZoVIZ") == 0;
    if (!joined) {
      std::fprintf(stderr, "library: set-up failed %s\n", error.c_str());
    } else {
      PVRVel::SetLive(&pvr);
      FillTable(folder, tev::Clock::Now() + 86400);
      FillLibrary(store);

      // The library's listing alone, as the sync asks for it.
      AutoVariant listing, listingRet;
      const Value listingIn = Value::Array(
          {Value::Str(L"PVR"), Value(), Value(), Value::StringArray({L"pvrState", L"mediaType"})});
      auto l0 = SteadyClock::now();
      client.Request(L"TevMediaV2", L"GetMediaFromSource", listingIn.get(), &listing, 0, &listingRet);
      const double listingSeconds = bench::Micros(l0, SteadyClock::now()) / 1e6;

      // 1. One start-up reconciliation.
      auto a = SteadyClock::now();
      pvr.GetSchedules().Library().SyncWithTevMedia(pvr.GetSchedules().Passes());
      auto b = SteadyClock::now();
      const double seconds = bench::Micros(a, b) / 1e6;
      const size_t marked = store.Find({{"mediaType", "deleted.video.recorded"}}).size();
      SQLite check;
      // Republished rows hold the ids the library gave them now.
      check.RunQuery("SELECT count(*) AS n FROM Schedules WHERE TevMediumId NOT LIKE 'L%'",
                     L"bench");
      const int republished = check.GetInt("n");
      const bool repaired = marked == static_cast<size_t>(kOrphans) && republished == kMissing;
      std::printf("SyncWithTevMedia, %d rows, %d library media, %d orphans, %d missing\n", kRows,
                  kRows - kMissing + kOrphans, kOrphans, kMissing);
      std::printf("  %.3f s (the library's listing alone %.3f s); orphans marked deleted %zu, "
                  "missing rows republished %d\n",
                  seconds, listingSeconds, marked, republished);
      bench::PrintGoal("one sync at most 2 s", seconds <= 2.0 && repaired);

      // 2. The two services beside plain round trips.
      std::vector<std::wstring> ids;
      for (int i = 0; i < 100; ++i) ids.push_back(tev::FromStdUtf8(MediumId(i * 97)));
      std::vector<Value> listIns(runs + 1, Value::StringArray(ids));
      double listModule = 0, listPlain = 0;
      const bool listOk = Compare(client, plain, L"GetFileListInfoFromId", listIns, &listModule,
                                  &listPlain);
      std::printf("GetFileListInfoFromId, 100 ids, %d runs: median %.1f us; plain %.1f us (%.1fx)\n",
                  runs, listModule, listPlain, listModule / listPlain);
      bench::PrintGoal("at most 5x a plain round trip", listOk && listModule <= 5 * listPlain);

      std::vector<Value> updateIns;
      for (int run = 0; run <= runs; ++run) {
        updateIns.push_back(Value::Array(
            {Value::Long(0), Value::Str(L"L5"),
             Value::Pairs({{L"title", Value::Str(L"Title " + std::to_wstring(run))}})}));
      }
      double updateModule = 0, updatePlain = 0;
      const bool updateOk =
          Compare(client, plain, L"UpdateMedium", updateIns, &updateModule, &updatePlain);
      std::printf("UpdateMedium, one \"title\" pair, %d runs: median %.1f us; plain %.1f us "
                  "(%.1fx)\n",
                  runs, updateModule, updatePlain, updateModule / updatePlain);
      bench::PrintGoal("at most 5x a plain round trip",
                       updateOk && updateModule <= 5 * updatePlain);
      PVRVel::SetLive(nullptr);
      status = 0;
    }
    pvr.Vel().Disconnect();
    client.Leave();
    plain.Leave();
    library.Leave();
  }
  server.Stop();
  std::filesystem::remove_all(folder);
  return status;
}
