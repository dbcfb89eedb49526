// tev-peers: the PVR module's peer satellites, running for real on a bus
// server until SIGINT or SIGTERM.
//
//   tev-peers --host 127.0.0.1:4222 --data DIR [--channels LINEUP]
//             [--guide guide.xml]... [--tuners tuners.json] [--ffmpeg PATH]
//             [--no-shift]
//
// The media library keeps its media in DIR/media.db and imports the channel
// line-up (channels.json, an M3U playlist or a tuner's line-up JSON, a file
// or a loopback http URL; tv.channel media whose "path" ffmpeg can read).
// The streamer records with ffmpeg; the guide serves the XMLTV files under
// the library's channel names (peers/GuideLineup.h), reading them again
// when they change and daily (sample listings that lie wholly in the past
// are moved to today and repeated to cover the coming week, unless
// --no-shift); the
// TV service reports the tuners of the JSON file ({"tuners": [{"name",
// "mimetype"}]}, default two "video/x-tv" tuners); the thumbnail service
// writes "<recording>.jpg" with ffmpeg.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "peers/FfmpegRecorder.h"
#include "peers/GuideLineup.h"
#include "peers/MediaStore.h"
#include "peers/Peers.h"
#include "platform/WideText.h"
#include "support/Registry.h"
#include "vel/BusCredentials.h"

namespace {

using nlohmann::json;
using namespace tev::peers;

std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }

bool LoadTuners(const std::string& path, std::vector<Tuner>* tuners, std::string* error) {
  std::ifstream file(path);
  json config = file ? json::parse(file, nullptr, false) : json();
  const json& list = config.is_object() ? config["tuners"] : config;
  if (!list.is_array()) {
    *error = path + ": expected {\"tuners\": [{\"name\": ..., \"mimetype\": ...}]}";
    return false;
  }
  for (const json& t : list) {
    if (!t.is_object() || !t.value("mimetype", json()).is_string()) {
      *error = path + ": every tuner needs a \"mimetype\" text";
      return false;
    }
    tuners->push_back(Tuner{W(t.value("name", std::string("Tuner"))), W(t["mimetype"].get<std::string>())});
  }
  return true;
}

std::wstring KindOfMediaType(const std::string& mediaType) {
  if (mediaType.compare(0, 9, "tv.webcam") == 0) return L"Device";
  if (mediaType.compare(0, 6, "tv.web") == 0 || mediaType.compare(0, 9, "audio.web") == 0) {
    return L"Web";
  }
  return L"TV";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Stand-in peer satellites of the PVR module"};
  std::string host = "127.0.0.1:4222", data = "tev-peers-data", channels, tunersFile;
  std::vector<std::string> guides;
  std::string ffmpeg = "ffmpeg";
  bool noShift = false;
  app.add_option("--host", host, "bus server, host:port");
  app.add_option("--data", data, "folder of the media library's database");
  app.add_option("--channels", channels,
                 "channel line-up to import: channels.json, an M3U playlist or a tuner's "
                 "lineup.json (a file or an http URL on this machine)");
  app.add_option("--guide", guides, "XMLTV file of the programme guide (may be repeated)")
      ->check(CLI::ExistingFile);
  app.add_option("--tuners", tunersFile, "JSON tuner list")->check(CLI::ExistingFile);
  app.add_option("--ffmpeg", ffmpeg, "ffmpeg program");
  app.add_flag("--no-shift", noShift, "serve past sample listings unchanged");
  std::string settings;
  app.add_option("--settings", settings,
                 "settings file with the bus credentials (default $TEV_REGISTRY_FILE or "
                 "/etc/tev/registry.ini)");
  CLI11_PARSE(app, argc, argv);

  // Signals are taken by sigwait below; every thread inherits the mask (the
  // ffmpeg children do not: SpawnQuiet clears it).
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  mkdir(data.c_str(), 0755);
  std::string error;
  MediaStore store;
  if (!store.Open(data + "/media.db", &error)) {
    std::cerr << "tev-peers: " << error << "\n";
    return 1;
  }
  auto log = [](const std::string& line) { std::cerr << "tev-peers: " << line << "\n"; };
  if (!channels.empty()) {
    std::vector<std::string> problems;
    if (!store.ImportChannels(channels, &error, &problems)) {
      std::cerr << "tev-peers: " << error << "\n";
      return 1;
    }
    for (const std::string& problem : problems) log("WARN " + problem);
  }

  std::vector<Tuner> tuners{{L"Tuner 1", L"video/x-tv"}, {L"Tuner 2", L"video/x-tv"}};
  if (!tunersFile.empty()) {
    tuners.clear();
    if (!LoadTuners(tunersFile, &tuners, &error)) {
      std::cerr << "tev-peers: " << error << "\n";
      return 1;
    }
  }

  MediaLibraryPeer media;
  StreamerPeer streamer;
  TVServicePeer tv;
  GuidePeer guidePeer;
  ThumbnailPeer thumbnails;
  store.Attach(media);
  tv.SetTuners(tuners);
  GuideFiles::Options guideOptions;
  guideOptions.paths = guides;
  guideOptions.shiftSamples = !noShift;
  GuideFiles guideFiles(guideOptions, store, guidePeer, log);
  if (!guides.empty()) {
    if (!guideFiles.Load(&error)) {
      std::cerr << "tev-peers: " << error << "\n";
      return 1;
    }
    guideFiles.Start();
  }
  thumbnails.SetFileMode(true);
  thumbnails.SetExtractor([ffmpeg](const std::wstring& video, const std::wstring& jpg) {
    return ExtractThumbnail(ffmpeg, video, jpg);
  });
  auto recorder = std::make_unique<FfmpegRecorder>(
      streamer,
      [&store](const std::wstring& channel, std::wstring* source, std::wstring* kind) {
        json props;
        if (!store.Get(channel, &props) || !props.value("path", json()).is_string()) return false;
        *source = W(props["path"].get<std::string>());
        *kind = KindOfMediaType(props.value("mediaType", std::string()));
        return true;
      },
      ffmpeg,
      // The module hears the reason with the finish report and publishes it.
      [log](const std::wstring& path, const std::string& what, bool failed) {
        log(std::string(failed ? "ERROR " : "WARN ") + tev::ToStdUtf8(path) + ": " + what);
      });

  const std::wstring bus = W(host);
  CRegistryImpl registry(settings);
  const vel::BusCredentials credentials = vel::ReadBusCredentials(registry);
  for (ScriptedPeer* peer : std::initializer_list<ScriptedPeer*>{&media, &streamer, &tv, &guidePeer,
                                                                 &thumbnails}) {
    peer->SetCredentials(credentials);
    if (peer->Join(bus) != 0) {
      std::cerr << "tev-peers: " << tev::ToStdUtf8(peer->Name()) << " cannot join " << host
                << "\n";
      return 1;
    }
  }
  std::cerr << "tev-peers: serving on " << host << "\n";

  int signal = 0;
  sigwait(&stop, &signal);
  std::cerr << "tev-peers: stopping\n";
  recorder.reset();
  for (ScriptedPeer* peer : std::initializer_list<ScriptedPeer*>{&thumbnails, &guidePeer, &tv,
                                                                 &streamer, &media}) {
    peer->Leave();
  }
  return 0;
}
