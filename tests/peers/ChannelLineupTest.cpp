// Channel line-ups as people have them (M3U playlists, a tuner's line-up, the
// JSON channel list) read into one form, and the guide mapped onto them.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ChannelLineup.h"
#include "peers/GuideLineup.h"
#include "peers/MediaStore.h"
#include "peers/XmltvGuide.h"
#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

namespace {

using nlohmann::json;
using namespace tev::peers;

Lineup ParseOk(const std::string& text) {
  Lineup lineup;
  std::string error;
  EXPECT_TRUE(ParseM3u(text, "list.m3u", &lineup, &error)) << error;
  return lineup;
}

std::string ProblemAt(const Lineup& lineup, int line) {
  const std::string prefix = "list.m3u:" + std::to_string(line) + ": ";
  for (const std::string& problem : lineup.problems) {
    if (problem.compare(0, prefix.size(), prefix) == 0) return problem;
  }
  return "";
}

TEST(ChannelLineup, ReadsPlaylistsAsProvidersWriteThem) {
  // BOM, CRLF, attributes in any order, unknown ones, player options, a
  // name with commas and quotes, missing attributes.
  const Lineup lineup = ParseOk(
      "\xEF\xBB\xBF#EXTM3U url-tvg=\"http://127.0.0.1/guide.xml\"\r\n"
      "#EXTINF:-1 tvg-id=\"I21760.labs.zap2it.com\" tvg-name=\"SD I21760\" "
      "tvg-logo=\"http://127.0.0.1:8/logo.png\" group-title=\"News, Local\" tvg-chno=\"2.1\" "
      "catchup=\"shift\",SD I21760\r\n"
      "#EXTVLCOPT:http-user-agent=Tev\r\n"
      "http://127.0.0.1:5004/auto/v2.1\r\n"
      "\r\n"
      "#EXTINF:-1 group-title=\"Films\",Film \"Four\", HD, \"late\"\r\n"
      "udp://239.0.0.1:1234\r\n"
      "#EXTINF:0,Plain\n"
      "#EXTGRP:Radio\n"
      "rtsp://127.0.0.1/plain\n"
      "#EXTINF:-1 tvg-name=\"Only Attributes\",\n"
      "rtp://239.0.0.2:5000\n"
      "#EXTINF:-1,Dup\nhttps://127.0.0.1/a\n#EXTINF:-1,Dup\nhttps://127.0.0.1/b");
  EXPECT_TRUE(lineup.problems.empty()) << lineup.problems[0];
  ASSERT_EQ(lineup.channels.size(), 6u);
  EXPECT_EQ(lineup.channels[0],
            (json{{"name", "SD I21760"}, {"xmltvId", "I21760.labs.zap2it.com"},
                  {"logo", "http://127.0.0.1:8/logo.png"}, {"group", "News, Local"}, {"number", "2.1"},
                  {"path", "http://127.0.0.1:5004/auto/v2.1"}, {"id", "ch-i21760-labs-zap2it-com"}}));
  EXPECT_EQ(lineup.channels[1]["name"], "Film \"Four\", HD, \"late\"");
  EXPECT_EQ(lineup.channels[1]["group"], "Films");
  EXPECT_FALSE(lineup.channels[1].contains("logo"));
  EXPECT_EQ(lineup.channels[1]["xmltvId"], "");
  EXPECT_EQ(lineup.channels[2]["name"], "Plain");
  EXPECT_EQ(lineup.channels[2]["group"], "Radio");
  EXPECT_EQ(lineup.channels[3]["name"], "Only Attributes");
  EXPECT_EQ(lineup.channels[4]["id"], "ch-dup");
  EXPECT_EQ(lineup.channels[5]["id"], "ch-dup-2");
}

TEST(ChannelLineup, BadEntriesAreNamedByLineAndCostNothingElse) {
  const std::string longLine(2 * 1024 * 1024, 'x');
  const Lineup lineup = ParseOk(
      "#EXTM3U\n"
      "#EXTINF:-1,Spaces\n"                            // 2
      "http://127.0.0.1/a stream\n"                    // 3
      "#EXTINF:-1,Quote\n"                             // 4
      "http://127.0.0.1/a\"b\n"                        // 5
      "#EXTINF:-1 tvg-logo=\"file:///etc/passwd\",Logo\n"  // 6: kept, without the logo
      "http://127.0.0.1/logo\n"                        // 7
      "#EXTINF:-1 tvg-name=\"" + longLine + "\",Long\n"  // 8
      "http://127.0.0.1/long\n"                        // 9: its URL goes with it
      "#EXTINF:-1,Long URL\n"                          // 10
      "http://127.0.0.1/" + longLine + "\n"            // 11
      "#EXTINF:-1,Scheme\n"                            // 12
      "ftp://127.0.0.1/x\n"                            // 13
      "http://127.0.0.1/orphan\n"                      // 14
      "#EXTINF:-1,\n"                                  // 15: no name at all
      "http://127.0.0.1/nameless\n"                    // 16
      "#EXTINF:-1,Good\n"                              // 17
      "http://127.0.0.1/good\n");
  ASSERT_EQ(lineup.channels.size(), 2u);
  EXPECT_EQ(lineup.channels[0]["name"], "Logo");
  EXPECT_FALSE(lineup.channels[0].contains("logo"));
  EXPECT_EQ(lineup.channels[1]["name"], "Good");
  const std::pair<int, const char*> problems[] = {
      {3, "space or a quote"}, {5, "space or a quote"}, {6, "not an http(s) URL"}, {8, "too long"},
      {11, "too long"},        {13, "udp, rtp or rtsp"}, {14, "without #EXTINF"},   {15, "without a name"}};
  for (const auto& p : problems) EXPECT_NE(ProblemAt(lineup, p.first).find(p.second), std::string::npos) << p.first;
  EXPECT_EQ(lineup.problems.size(), 8u);

  // Not a playlist at all: refused as a whole, naming the line.
  const struct {
    std::string text;
    std::string error;
  } refused[] = {
      {"#EXTINF:-1,A\nhttp://127.0.0.1/a\n", "list.m3u:1: not an M3U playlist"},
      {"", "list.m3u:1: not an M3U playlist"},
      {"#EXTM3U\n#EXTINF:-1,A\nhttp://x/\x01\x02\x00\xff", "list.m3u:3: binary data"},
      {std::string("\x89PNG\r\n\x1a\n", 8), "list.m3u:2: binary data"},
      {longLine, "list.m3u:1: not an M3U playlist"},
  };
  for (const auto& c : refused) {
    Lineup none;
    std::string error;
    EXPECT_FALSE(ParseM3u(c.text, "list.m3u", &none, &error));
    EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << error;
    EXPECT_TRUE(none.channels.empty());
  }
}

TEST(ChannelLineup, TenThousandEntriesAndLatin1) {
  std::string text = "#EXTM3U\n";
  for (int i = 0; i < 10000; ++i) {
    text += "#EXTINF:-1 tvg-id=\"id" + std::to_string(i) + "\" tvg-chno=\"" + std::to_string(i) +
            "\",Channel " + std::to_string(i) + "\nhttp://127.0.0.1/" + std::to_string(i) + "\n";
  }
  Lineup lineup = ParseOk(text);
  ASSERT_EQ(lineup.channels.size(), 10000u);
  EXPECT_EQ(lineup.channels[9999]["name"], "Channel 9999");

  dbtest::TempDir dir;
  dbtest::WriteBytes(dir.path() + "/big.m3u", text);
  MediaStore store;
  std::string error;
  ASSERT_TRUE(store.Open(dir.path() + "/media.db", &error)) << error;
  ASSERT_TRUE(store.ImportChannels(dir.path() + "/big.m3u", &error)) << error;
  EXPECT_EQ(store.Find({{"source", "channels"}}).size(), 10000u);

  // A .m3u from an older tool in ISO-8859-1.
  lineup = ParseOk("#EXTM3U\n#EXTINF:-1,Caf\xE9 T\xE9l\xE9\nhttp://127.0.0.1/c\n");
  ASSERT_EQ(lineup.channels.size(), 1u);
  EXPECT_EQ(lineup.channels[0]["name"], "Caf\xC3\xA9 T\xC3\xA9l\xC3\xA9");

  // Imported again, as at every start: each channel once.
  dbtest::WriteBytes(dir.path() + "/small.m3u", "#EXTM3U\n#EXTINF:-1,One\nhttp://127.0.0.1/again\n");
  ASSERT_TRUE(store.ImportChannels(dir.path() + "/small.m3u", &error)) << error;
  ASSERT_TRUE(store.ImportChannels(dir.path() + "/small.m3u", &error)) << error;
  EXPECT_EQ(store.Find({{"path", "http://127.0.0.1/again"}}).size(), 1u);
}

TEST(ChannelLineup, TunerLineupsAndFormDetection) {
  dbtest::TempDir dir;
  const std::string tuner = dir.path() + "/lineup.json";
  dbtest::WriteBytes(tuner,
                     "[{\"GuideNumber\": \"2.1\", \"GuideName\": \"WCBS-HD\", \"URL\": "
                     "\"http://127.0.0.1:5004/auto/v2.1\", \"HD\": 1},"
                     " {\"GuideNumber\": \"4.1\", \"GuideName\": \"WNBC\"},"
                     " {\"GuideNumber\": \"5.1\", \"URL\": \"http://127.0.0.1:5004/auto/v5.1\"},"
                     " 7, {\"GuideNumber\": \"2.1\", \"GuideName\": \"Copy\", \"URL\": "
                     "\"http://127.0.0.1:5004/auto/v2.1b\"}]");
  Lineup lineup;
  std::string error;
  ASSERT_TRUE(LoadLineup(tuner, &lineup, &error)) << error;
  ASSERT_EQ(lineup.channels.size(), 3u);
  EXPECT_EQ(lineup.channels[0]["name"], "WCBS-HD");
  EXPECT_EQ(lineup.channels[0]["number"], "2.1");
  EXPECT_EQ(lineup.channels[0]["id"], "ch-2-1");
  EXPECT_EQ(lineup.channels[0]["guideNames"], json::array({"2.1", "2.1 WCBS-HD"}));
  EXPECT_EQ(lineup.channels[1]["name"], "5.1");
  EXPECT_EQ(lineup.channels[2]["id"], "ch-2-1-2");
  ASSERT_EQ(lineup.problems.size(), 2u);
  EXPECT_NE(lineup.problems[0].find("entry 2"), std::string::npos) << lineup.problems[0];
  EXPECT_NE(lineup.problems[1].find("entry 4"), std::string::npos) << lineup.problems[1];

  const std::string list = dir.path() + "/channels.json";
  dbtest::WriteBytes(list, "[{\"id\": \"ch-a\", \"name\": \"A\", \"path\": \"lavfi:testsrc\", "
                           "\"xmltvId\": \"a.tev\"}, {\"name\": \"no path\"}]");
  Lineup own;
  ASSERT_TRUE(LoadLineup(list, &own, &error)) << error;
  ASSERT_EQ(own.channels.size(), 1u);
  EXPECT_EQ(own.channels[0]["id"], "ch-a");
  EXPECT_EQ(own.problems.size(), 1u);

  const struct {
    std::string text;
    std::string error;
  } refused[] = {
      {"[{\"GuideNumber\": \"2.1\"", "not valid JSON"},
      {"<html>not a line-up</html>", ":1: not an M3U playlist"},
      {"{\"GuideNumber\": \"2.1\"}", "not a JSON list"},
  };
  for (const auto& c : refused) {
    dbtest::WriteBytes(dir.path() + "/bad", c.text);
    Lineup none;
    EXPECT_FALSE(LoadLineup(dir.path() + "/bad", &none, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  EXPECT_FALSE(LoadLineup("http://192.0.2.1/lineup.json", &lineup, &error));
  EXPECT_NE(error.find("loopback"), std::string::npos) << error;
  EXPECT_TRUE(IsLoopbackUrl("http://127.0.0.1:5004/lineup.json"));
  EXPECT_TRUE(IsLoopbackUrl("http://user@localhost/x"));
  EXPECT_TRUE(IsLoopbackUrl("http://[::1]:80/x"));
  EXPECT_FALSE(IsLoopbackUrl("http://127.0.0.1.example.com/x"));
  EXPECT_FALSE(IsLoopbackUrl("http://127.0.0.1@example.com/x"));
}

GuideChannel Guide(const std::wstring& id, std::vector<std::wstring> names, int programmes) {
  GuideChannel channel;
  channel.mediumId = id;
  channel.name = names.empty() ? id : names[0];
  channel.displayNames = std::move(names);
  for (int i = 0; i < programmes; ++i) {
    GuideProgram show;
    show.title = L"Show";
    show.duration = 1800;
    show.start = i * 1800;
    channel.programs.push_back(show);
  }
  return channel;
}

TEST(GuideLineup, GuideChannelsTakeTheLibrarysNames) {
  const std::vector<std::pair<std::wstring, json>> library{
      {L"ch-sd", {{"name", "SD I21760"}, {"xmltvId", "I21760.labs.zap2it.com"}}},
      {L"ch-hd", {{"name", "HD I21760"}, {"xmltvId", "I21760.labs.zap2it.com"},
                  {"mimeType", "video/x-tv"}}},
      {L"ch-bbc", {{"name", "bbc-one hd"}, {"xmltvId", "missing.id"}}},
      {L"ch-2-1", {{"name", "WCBS-HD"}, {"guideNames", {"2.1", "2.1 WCBS-HD"}}}},
  };
  std::vector<GuideChannel> guide{
      Guide(L"I21760.labs.zap2it.com", {}, 3), Guide(L"bbc1.uk", {L"BBC One HD"}, 2),
      Guide(L"I100.zap2it", {L"2.1 WCBS", L"2.1"}, 1), Guide(L"I999.zap2it", {L"Nobody"}, 4)};
  GuideMatchReport report;
  const std::vector<GuideChannel> mapped = MapGuideToLibrary(guide, library, &report);
  std::vector<std::wstring> named;
  for (const GuideChannel& c : mapped) {
    named.push_back(c.name + L"|" + c.mediumId + L"|" + std::to_wstring(c.programs.size()));
  }
  EXPECT_EQ(named, (std::vector<std::wstring>{L"SD I21760|ch-sd|3", L"HD I21760|ch-hd|3",
                                              L"bbc-one hd|ch-bbc|2", L"WCBS-HD|ch-2-1|1"}));
  EXPECT_EQ(report.guideChannels, 4u);
  EXPECT_EQ(report.matched, 3u);
  EXPECT_EQ(report.unmatched, std::vector<std::string>{"I999.zap2it (Nobody)"});

  // Nothing in the library to be named after: the guide's own names.
  const std::vector<GuideChannel> own = MapGuideToLibrary(guide, {}, &report);
  ASSERT_EQ(own.size(), 4u);
  EXPECT_EQ(own[1].name, L"BBC One HD");
}

TEST(GuideLineup, SeveralGuideFilesMakeOneGuide) {
  dbtest::TempDir dir;
  dbtest::WriteBytes(dir.path() + "/a.xml",
                     "<tv><channel id=\"x\"><display-name>X One</display-name>"
                     "<display-name>1</display-name></channel>"
                     "<programme start=\"20260105200000 -0800\" stop=\"20260105203000 -0800\" "
                     "channel=\"x\"><title>A</title><premiere/></programme></tv>");
  dbtest::WriteBytes(dir.path() + "/b.xml",
                     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><tv>"
                     "<programme start=\"20260106200000 -0800\" channel=\"x\"><title>B\xE9</title>"
                     "</programme><programme start=\"20260106200000 -0800\" channel=\"y\">"
                     "<title>C</title></programme></tv>");
  std::vector<GuideChannel> channels;
  std::string error;
  ASSERT_TRUE(LoadXmltvFiles({dir.path() + "/a.xml", dir.path() + "/b.xml"}, &channels, &error))
      << error;
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0].displayNames, (std::vector<std::wstring>{L"X One", L"1"}));
  ASSERT_EQ(channels[0].programs.size(), 2u);
  EXPECT_TRUE(channels[0].programs[0].isNew);
  EXPECT_EQ(channels[0].programs[1].title, L"B\u00e9");
  EXPECT_EQ(channels[1].mediumId, L"y");
  EXPECT_FALSE(LoadXmltvFiles({dir.path() + "/a.xml", dir.path() + "/none.xml"}, &channels, &error));
  EXPECT_NE(error.find("none.xml"), std::string::npos);
}

TEST(GuideLineup, AChangedGuideFileIsServedAgain) {
  dbtest::TempDir dir;
  MediaStore store;
  std::string error;
  ASSERT_TRUE(store.Open(dir.path() + "/media.db", &error)) << error;
  store.ImportChannelList({json{{"id", "ch-sd"}, {"name", "SD I21760"}, {"path", "http://127.0.0.1/"},
                                {"xmltvId", "I21760.labs.zap2it.com"}}});
  auto guide = [](int programmes) {
    std::string xml = "<tv>";
    for (int i = 0; i < programmes; ++i) {
      xml += "<programme start=\"2026010" + std::to_string(i + 1) + "200000 -0800\" "
             "channel=\"I21760.labs.zap2it.com\"><title>News</title></programme>";
    }
    return xml + "</tv>";
  };
  const std::string path = dir.path() + "/guide.xml";
  dbtest::WriteBytes(path, guide(1));
  GuidePeer peer;
  GuideFiles::Options options;
  options.paths = {path};
  options.shiftSamples = false;
  GuideFiles files(options, store, peer, [](const std::string&) {});
  ASSERT_TRUE(files.Load(&error)) << error;
  ASSERT_TRUE(files.Start());
  ASSERT_EQ(peer.Listings().size(), 1u);
  EXPECT_EQ(peer.Listings()[0].name, L"SD I21760");
  EXPECT_EQ(peer.Listings()[0].programs.size(), 1u);
  // Replaced as grabbers do: written beside it and renamed over it.
  dbtest::WriteBytes(path + ".new", guide(3));
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  for (int i = 0; i < 400 && files.Loads() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_EQ(files.Loads(), 2);
  ASSERT_EQ(peer.Listings().size(), 1u);
  EXPECT_EQ(peer.Listings()[0].programs.size(), 3u);
}

}  // namespace
