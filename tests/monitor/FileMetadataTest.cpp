// Metadata on real ASF files made by ffmpeg, read back with TagLib.
#include <gtest/gtest.h>

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "db/Schedule.h"
#include "monitor/FileMetadata.h"
#include "platform/WideText.h"
#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"
#include "tests/db/DbTestSupport.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

using dbtest::WriteBytes;
using tev::test::ReadFile;
using tev::test::TempDir;

std::vector<std::string> AttributesInFile(const std::string& path, const char* name) {
  std::vector<std::string> values;
  TagLib::ASF::File file(path.c_str());
  if (!file.isValid()) return values;
  for (const TagLib::ASF::Attribute& a : file.tag()->attribute(name)) {
    values.push_back(a.toString().to8Bit(true));
  }
  return values;
}

class FileMetadata : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!monitortest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  }
  static std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }
  std::string MakeWmv(const std::string& name) {
    const std::string path = dir_.path() + "/" + name;
    return enginetest::WriteAsfVideo(path) ? path : std::string();
  }
  TempDir dir_;
  MetadataEditor editor_;
};

}  // namespace

TEST_F(FileMetadata, WrittenDescriptionReachesTheFileAndReadsBack) {
  std::string path = MakeWmv("show.wmv");
  ASSERT_FALSE(path.empty());
  {
    // Every attribute of a name is changed.
    TagLib::ASF::File file(path.c_str());
    ASSERT_TRUE(file.isValid());
    file.tag()->addAttribute("WM/Genre", TagLib::ASF::Attribute(TagLib::String("Drama")));
    file.tag()->addAttribute("WM/Genre", TagLib::ASF::Attribute(TagLib::String("Comedy")));
    ASSERT_TRUE(file.save());
  }

  const std::string subtitle = "Épisode \"2\" / l'été ☀ 😀";
  Schedule written;
  written.m_filePath = W(path);
  written.m_name = W("Nachrichten – Ü");
  written.m_subtitle = W(subtitle);
  written.m_category = W("News");
  written.m_description = W("Line one\nline two 🎬");
  written.m_channelName = W("Das Erste HD");
  written.m_channel = W("tv.channel.42");
  ASSERT_TRUE(written.SetFileMetadata(&editor_));

  TagLib::ASF::File file(path.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ("Nachrichten – Ü", file.tag()->title().to8Bit(true));
  const std::pair<const char*, std::string> attributes[] = {
      {"WM/SubTitle", subtitle},
      {"WM/SubTitleDescription", "Line one\nline two 🎬"},
      {"WM/MediaStationName", "Das Erste HD"},
      {"WM/MediaStationCallSign", "Das Erste HD"},
      {"WM/MediaOriginalChannel", "tv.channel.42"}};
  for (const auto& a : attributes) {
    EXPECT_EQ(std::vector<std::string>{a.second}, AttributesInFile(path, a.first)) << a.first;
  }
  EXPECT_EQ((std::vector<std::string>{"News", "News"}), AttributesInFile(path, "WM/Genre"));

  Schedule read;
  const int64_t start = 1700000000;
  ASSERT_TRUE(read.PopulateFromFile(&editor_, W(path), L"Given channel", L"Given title", start,
                                    L"video/x-tv"));
  // The file's station wins over the given channel.
  EXPECT_EQ(std::make_tuple(read.m_subtitle, read.m_category, read.m_description, read.m_channel,
                            read.m_channelName, read.m_name, read.m_duration, read.m_endTime),
            std::make_tuple(written.m_subtitle, written.m_category, written.m_description,
                            written.m_channel, written.m_channelName, std::wstring(L"Given title"),
                            1, start + 1));
}

TEST_F(FileMetadata, FileWithoutPlayDurationGivesMinusOne) {
  std::string path = MakeWmv("noduration.wmv");
  ASSERT_FALSE(path.empty());
  // The play duration of the file properties object.
  std::string bytes = ReadFile(path);
  const unsigned char guid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  auto it = std::search(bytes.begin(), bytes.end(), guid, guid + 16,
                        [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
  ASSERT_NE(bytes.end(), it);
  size_t playDuration = static_cast<size_t>(it - bytes.begin()) + 16 + 8 + 16 + 8 + 8 + 8;
  for (int i = 0; i < 8; ++i) bytes[playDuration + i] = 0;
  WriteBytes(path, bytes);

  Schedule s;
  ASSERT_TRUE(s.PopulateFromFile(&editor_, W(path), L"C", L"T", 1000, L"video/x-tv"));
  EXPECT_EQ(-1, s.m_duration);
  EXPECT_EQ(1000, s.m_endTime);
}

TEST_F(FileMetadata, BrokenOrMissingFilesFailCleanly) {
  std::string good = MakeWmv("good.wmv");
  ASSERT_FALSE(good.empty());
  const std::string wmv = ReadFile(good);

  const std::string text = dir_.path() + "/notes.wmv";
  WriteBytes(text, "hello\n");
  const std::string truncated = dir_.path() + "/truncated.wmv";
  WriteBytes(truncated, wmv.substr(0, 40));
  const std::string empty = dir_.path() + "/empty.wmv";
  WriteBytes(empty, "");
  const std::string garbage = dir_.path() + "/garbage.wmv";
  std::string noise = wmv.substr(0, 16);  // a real header GUID, then noise
  for (int i = 0; i < 4096; ++i) noise.push_back(static_cast<char>((i * 131) ^ 0x5A));
  WriteBytes(garbage, noise);

  for (const std::string& path : {text, truncated, empty, garbage,
                                  dir_.path() + "/missing.wmv", dir_.path()}) {
    SCOPED_TRACE(path);
    const std::string before = ReadFile(path);
    Schedule s;
    s.m_duration = 99;
    s.m_subtitle = L"kept";
    EXPECT_FALSE(s.PopulateFromFile(&editor_, W(path), L"Chan", L"Name", 500, L"video/x-tv"));
    EXPECT_EQ(
        s.m_status + L"/" + s.m_type + L"/" + s.m_subtitle + L"/" + std::to_wstring(s.m_duration),
        L"DVRSTATE_COMPLETE/Recovered/kept/99");
    s.m_filePath = W(path);
    EXPECT_FALSE(s.SetFileMetadata(&editor_));
    EXPECT_EQ(before, ReadFile(path));
  }
  Schedule noPath;
  EXPECT_FALSE(noPath.SetFileMetadata(&editor_));
  noPath.m_filePath = W(good);
  EXPECT_FALSE(noPath.SetFileMetadata(nullptr));
  EXPECT_FALSE(noPath.PopulateFromFile(nullptr, W(good), L"C", L"T", 0, L"video/x-tv"));

  Schedule s;
  EXPECT_TRUE(s.PopulateFromFile(&editor_, W(good), L"C", L"T", 0, L"video/x-tv"));
}

