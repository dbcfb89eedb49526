// The guide of tev-peers with a fortnight of a large line-up: 500 channels
// of 14 days (about 300,000 programmes, with sub-titles, descriptions and
// episode numbers, times at -0800) and a 500-entry M3U playlist naming
// them by tvg-id:
//   1. load and map the guide as tev-peers does (GuideFiles::Load) (goals:
//      at most 5 s, and at most 300 MB peak resident memory of the process);
//   2. one "SearchTVListings" over the bus as the module asks it (a title,
//      seven days, at most 1000), median of the runs (goal: at most 50 ms).
//
// Usage: guide [--runs N]. Prints the figures and PASS/FAIL per goal;
// exits 0 unless the set-up fails.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "peers/GuideLineup.h"
#include "peers/MediaStore.h"
#include "peers/Peers.h"
#include "peers/ScriptedPeer.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "tests/common/XmltvText.h"

namespace {

using tev::test::PacificText;

using tev::peers::Value;
typedef std::chrono::steady_clock SteadyClock;

constexpr int kChannels = 500;
constexpr int kDays = 14;

// Peak resident memory of this process in MB (VmHWM).
double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

// Writes the guide programme by programme; the number of programmes.
long WriteGuide(const std::string& path, int64_t from) {
  std::ofstream out(path);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv generator-info-name=\"bench\">\n";
  const int lengths[] = {30, 30, 30, 45, 30, 30, 30, 40};
  long count = 0;
  for (int c = 0; c < kChannels; ++c) {
    const std::string id = "I" + std::to_string(10000 + c) + ".labs.zap2it.com";
    int64_t at = from;
    for (int k = 0; at < from + kDays * 86400LL; ++k, ++count) {
      const int minutes = lengths[(k + c) % 8];
      out << "<programme start=\"" << PacificText(at) << "\" stop=\"" << PacificText(at + minutes * 60)
          << "\" channel=\"" << id << "\"><title lang=\"en\">Show " << (k * 7 + c) % 400
          << "</title><sub-title lang=\"en\">Episode " << k << "</sub-title>"
          << "<desc lang=\"en\">What happens in episode " << k << " of this show, told in a "
             "sentence or two as listings do.</desc><category lang=\"en\">Series</category>"
          << "<episode-num system=\"dd_progid\">EP" << 100000 + c << "." << k << "</episode-num>"
          << "</programme>\n";
      at += minutes * 60;
    }
  }
  out << "</tv>\n";
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = bench::Runs(argc, argv, 20);
  const std::string dir = bench::MakeDataFolder("guide");
  const int64_t from = time(nullptr) / 3600 * 3600;
  const long programmes = WriteGuide(dir + "/guide.xml", from);
  {
    std::ofstream list(dir + "/lineup.m3u");
    list << "#EXTM3U\n";
    for (int c = 0; c < kChannels; ++c) {
      list << "#EXTINF:-1 tvg-id=\"I" << 10000 + c << ".labs.zap2it.com\" tvg-chno=\"" << c + 1
           << "\",Channel " << c + 1 << "\nhttp://127.0.0.1:5004/auto/v" << c + 1 << "\n";
    }
  }
  tev::peers::MediaStore store;
  std::string error;
  if (!store.Open(dir + "/media.db", &error) || !store.ImportChannels(dir + "/lineup.m3u", &error)) {
    std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
    return 1;
  }
  const double before = PeakMegabytes();

  tev::peers::GuidePeer guide;
  tev::peers::GuideFiles::Options options;
  options.paths = {dir + "/guide.xml"};
  options.shiftSamples = false;
  tev::peers::GuideFiles files(options, store, guide, [](const std::string&) {});
  const auto began = SteadyClock::now();
  if (!files.Load(&error)) {
    std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
    return 1;
  }
  const double loadSeconds =
      std::chrono::duration<double>(SteadyClock::now() - began).count();
  const double peak = PeakMegabytes();

  tev::test::NatsServer server;
  tev::peers::ScriptedPeer module(L"ZoVIZ", {});
  if (!server.Start() || guide.Join(server.HostPort()) != 0 || module.Join(server.HostPort()) != 0) {
    std::fprintf(stderr, "set-up failed: the bus\n");
    return 1;
  }
  std::vector<double> searches;
  size_t found = 0;
  for (int run = 0; run < runs; ++run) {
    const int64_t nowLocal = from - 8 * 3600 + 3600;  // the guide's clock is this machine's
    Value in = Value::Array({Value::Str(L"Show " + std::to_wstring(run % 400)), Value::Str(L""),
                             Value::Str(L""), Value::Date(nowLocal),
                             Value::Date(nowLocal + 7 * 86400), Value::Long(1000)});
    AutoVariant out, retcodes;
    const auto start = SteadyClock::now();
    if (module.Request(L"any", L"SearchTVListings", in.get(), &out, 0, &retcodes) != 0) {
      std::fprintf(stderr, "SearchTVListings failed\n");
      return 1;
    }
    searches.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    AutoVariant reply;
    VUtil::GetElement(out, 0, &reply);
    found += static_cast<size_t>(VUtil::GetLongElement(reply, 0));
  }
  module.Leave();
  guide.Leave();
  const double median = bench::Median(searches);

  std::printf("guide: %ld programmes on %d channels over %d days (%.0f MB file)\n", programmes,
              kChannels, kDays, std::filesystem::file_size(dir + "/guide.xml") / 1e6);
  std::printf("load and map: %.2f s (goal <= 5 s) %s\n", loadSeconds, loadSeconds <= 5 ? "PASS" : "FAIL");
  std::printf("peak resident memory: %.0f MB (%.0f MB before the guide; goal <= 300 MB) %s\n", peak,
              before, peak <= 300 ? "PASS" : "FAIL");
  std::printf("SearchTVListings: median %.2f ms of %d, %zu programmes found per search (goal <= 50 ms) %s\n",
              median, runs, found / static_cast<size_t>(runs), median <= 50 ? "PASS" : "FAIL");
  std::filesystem::remove_all(dir);
  return 0;
}
