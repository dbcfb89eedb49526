// The parts of tev-peers that need no bus: the media store (with what a
// hostile client may send it) and the XMLTV reader.
#include <dirent.h>

#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/MediaStore.h"
#include "peers/XmltvGuide.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"

namespace {

using nlohmann::json;
using namespace tev::peers;

class MediaStoreFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.Open(dir.path() + "/media.db", &error)) << error; }
  dbtest::TempDir dir;
  std::string error;
  MediaStore store;
};

TEST_F(MediaStoreFile, ConcurrentChangesOfOneMediumAreAllKept) {
  const std::wstring id = store.Add(L"channels", {{"tevMediumId", "ch-1"}, {"path", "/x"}});
  // Two handlers setting different properties of the same medium at once.
  auto set = [&](const std::string& prefix) {
    for (int i = 0; i < 100; ++i) {
      store.SetProperty(id, tev::FromStdUtf8(prefix + std::to_string(i)), i);
    }
  };
  std::thread a(set, "a"), b(set, "b");
  a.join();
  b.join();
  json props;
  ASSERT_TRUE(store.Get(id, &props));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(props.value("a" + std::to_string(i), -1), i);
    EXPECT_EQ(props.value("b" + std::to_string(i), -1), i);
  }
  // A renamed medium keeps its source and exists once; a vanished one
  // comes back as nothing.
  const std::wstring renamed = store.ChangeId(id);
  EXPECT_EQ(store.Find({{"source", "channels"}}).size(), 1u);
  EXPECT_EQ(store.Find({{"path", "/x"}}).size(), 1u);
  EXPECT_FALSE(store.SetProperty(id, L"late", 1));
  EXPECT_EQ(store.Find({}).size(), 1u);
  EXPECT_TRUE(store.Get(renamed, nullptr));
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

TEST(MediaStoreFilters, LongTextsAreReadWithoutRecursion) {
  const std::wstring value(1 << 20, L'x');
  const auto terms = MediaStore::ParseFilter(L"path = \"" + value + L"\" AND mediaType=\"tv\"");
  ASSERT_EQ(terms.size(), 2u);
  EXPECT_EQ(terms.at("path").size(), value.size());
  EXPECT_EQ(terms.at("mediaType"), "tv");
  // A name 100 KB long, an unclosed value, a flood of '=' and quotes.
  EXPECT_EQ(MediaStore::ParseFilter(std::wstring(100000, L'a') + L"=\"1\"").size(), 1u);
  EXPECT_TRUE(MediaStore::ParseFilter(L"a=\"" + value).empty());
  EXPECT_TRUE(MediaStore::ParseFilter(std::wstring(100000, L'=') + std::wstring(100000, L'"')).empty());
  // The leftmost complete term wins where terms overlap, as before.
  EXPECT_EQ(MediaStore::ParseFilter(L"x a=\"1\"b=\"2\" 9c = \"3\""),
            (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}, {"c", "3"}}));

  EXPECT_EQ(MediaStore::ParseFieldNames(L"title, path;9x _y"),
            (std::vector<std::string>{"title", "path", "x", "_y"}));
  EXPECT_EQ(MediaStore::ParseFieldNames(std::wstring(1 << 20, L'f')).size(), 1u);
  EXPECT_EQ(MediaStore::ParseFieldNames(std::wstring(100000, L',')).size(), 0u);
}

TEST_F(MediaStoreFile, OpeningAgainClosesTheOldConnection) {
  const size_t before = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(store.Open(dir.path() + (i % 2 ? "/one.db" : "/two.db"), &error)) << error;
  }
  EXPECT_EQ(OpenDescriptors(), before);
  store.Add(L"PVR", {{"path", "/r/a.asf"}});
  MediaStore other;
  ASSERT_TRUE(other.Open(dir.path() + "/one.db", &error));
  EXPECT_EQ(other.Find({{"path", "/r/a.asf"}}).size(), 1u);
}

TEST(Xmltv, TimesAndShift) {
  dbtest::ScopedEnv zone("TZ", "CET-1");
  tzset();
  struct Case {
    const char* text;
    bool ok;
    int64_t local;
  } cases[] = {
      {"20240115120000 +0000", true, 1705320000 + 3600},
      {"20240115120000 +0100", true, 1705320000},
      {"20240115120000 -0230", true, 1705320000 + 9000 + 3600},
      {"20240115120000", true, 1705320000},
      {"2024011512", false, 0},
      {"20241315120000", false, 0},
      {"2024011512000x", false, 0},
      {"20240115120000 +01", false, 0},
  };
  for (const Case& c : cases) {
    int64_t local = -1;
    EXPECT_EQ(ParseXmltvTime(c.text, &local), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(local, c.local) << c.text;
    }
  }
  std::vector<GuideChannel> channels(1);
  channels[0].programs = {{L"A", 1800, 1705320000, L"", L"", L"", false, false, {}},
                          {L"B", 1800, 1705320000 + 86400, L"", L"", L"", false, false, {}}};
  const int64_t now = 1705320000 + 10 * 86400 + 5000;
  EXPECT_EQ(ShiftPastListings(&channels, now), 10);
  EXPECT_EQ(channels[0].programs[0].start, 1705320000 + 10 * 86400);
  // Listings that have not all ended stay where they are.
  EXPECT_EQ(ShiftPastListings(&channels, now), 0);
  std::vector<GuideChannel> none;
  EXPECT_EQ(ShiftPastListings(&none, now), 0);
}

TEST(Xmltv, ReadsTheSampleAndRejectsBrokenFiles) {
  std::vector<GuideChannel> channels;
  std::string error;
  ASSERT_TRUE(LoadXmltv(TEV_SOURCE_DIR "/peers/samples/guide.xml", &channels, &error)) << error;
  ASSERT_EQ(channels.size(), 3u);
  ASSERT_EQ(channels[0].programs.size(), 96u);
  const GuideProgram& p = channels[0].programs[0];
  EXPECT_EQ((std::vector<std::wstring>{channels[0].name, channels[0].mediumId, p.title,
                                       std::to_wstring(p.duration), p.episodeTitle, p.category}),
            (std::vector<std::wstring>{L"Test Card", L"testcard.tev", L"Morning News", L"1800",
                                       L"Episode 1", L"News"}));
  EXPECT_TRUE(channels[0].programs[2].isNew);

  dbtest::TempDir dir;
  const std::string file = dir.path() + "/g.xml";
  dbtest::WriteBytes(file,
                     "<tv><programme start=\"20240101000000\" stop=\"20240101010000\" channel=\"x\">"
                     "<title>T &amp; U</title></programme><programme start=\"bad\" channel=\"x\"/>"
                     "</tv>");
  channels.clear();
  ASSERT_TRUE(LoadXmltv(file, &channels, &error));
  ASSERT_EQ(channels.size(), 1u);
  EXPECT_EQ(channels[0].name, L"x");
  ASSERT_EQ(channels[0].programs.size(), 1u);
  EXPECT_EQ(channels[0].programs[0].title, L"T & U");
  EXPECT_EQ(channels[0].programs[0].duration, 3600);
  for (const char* broken : {"<tv><programme>", "not xml", ""}) {
    dbtest::WriteBytes(file, broken);
    EXPECT_FALSE(LoadXmltv(file, &channels, &error)) << broken;
  }
  EXPECT_FALSE(LoadXmltv(dir.path() + "/missing.xml", &channels, &error));
}

// What grabbers write about the episode reaches the guide's answer: every
// <episode-num> as [system, text] in program slot 11, <previously-shown/>
// as bit 1 of slot 14 beside bit 0 for <new/> or <premiere>.
TEST(Xmltv, CarriesEpisodeNumbersAndShownBefore) {
  dbtest::TempDir dir;
  const std::string file = dir.path() + "/g.xml";
  dbtest::WriteBytes(
      file,
      "<tv><programme start=\"20240101200000 +0000\" stop=\"20240101203000 +0000\" channel=\"x\">"
      "<title>Full House</title><episode-num system=\"dd_progid\">EP00524061.0075</episode-num>"
      "<episode-num system=\"xmltv_ns\">3.13.</episode-num>"
      "<episode-num system=\"onscreen\">S04E14</episode-num>"
      "<previously-shown start=\"19911022000000\"/></programme>"
      "<programme start=\"20240101203000 +0000\" stop=\"20240101210000 +0000\" channel=\"x\">"
      "<title>Full House</title><premiere/></programme>"
      "<programme start=\"20240101210000 +0000\" stop=\"20240101213000 +0000\" channel=\"x\">"
      "<title>Full House</title><new/><previously-shown/></programme></tv>");
  std::vector<GuideChannel> channels;
  std::string error;
  ASSERT_TRUE(LoadXmltv(file, &channels, &error)) << error;
  const Value reply = GuidePeer::BuildListings(channels, L"full house", 0, 1LL << 40, 100);
  AutoVariant channelList, channel, programs;
  VUtil::GetElement(reply.get(), 1, &channelList);
  VUtil::GetElement(channelList.get(), 0, &channel);
  VUtil::GetElement(channel.get(), 2, &programs);
  ASSERT_EQ(VUtil::GetArrayLength(programs.get()), 3);
  std::vector<int32_t> flags;
  std::vector<std::wstring> numbers;
  for (long i = 0; i < 3; ++i) {
    AutoVariant program, nums, pair;
    VUtil::GetElement(programs.get(), i, &program);
    flags.push_back(VUtil::GetLongElement(program.get(), 14));
    VUtil::GetElement(program.get(), 11, &nums);
    for (long n = 0; n < VUtil::GetArrayLengthEmpty(nums.get()); ++n) {
      VUtil::GetElement(nums.get(), n, &pair);
      numbers.push_back(VUtil::GetStringElement(pair.get(), 0) + L"=" +
                        VUtil::GetStringElement(pair.get(), 1));
    }
  }
  EXPECT_EQ(flags, (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(numbers, (std::vector<std::wstring>{L"dd_progid=EP00524061.0075", L"xmltv_ns=3.13.",
                                                L"onscreen=S04E14"}));
}

}  // namespace
