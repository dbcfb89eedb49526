// Recording file metadata on real ASF files made by ffmpeg during the test,
// read back independently with TagLib.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "db/Schedule.h"
#include "monitor/FileMetadata.h"
#include "platform/WideText.h"
#include "tests/common/TempRoot.h"

namespace {

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

using tev::test::TempDir;

// A small WMV of `seconds` seconds; empty string when ffmpeg failed.
std::string MakeWmv(const TempDir& dir, const std::string& name, int seconds) {
  std::string path = dir.path() + "/" + name;
  std::string command = "ffmpeg -loglevel error -nostdin -y -f lavfi -i testsrc=duration=" +
                        std::to_string(seconds) + ":size=32x32:rate=1 -c:v wmv2 -f asf '" +
                        path + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? path : std::string();
}

std::vector<char> ReadBytes(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }

// Every stream-0 text value of `name` in the file, as UTF-8.
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
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  }
  TempDir dir_;
  MetadataEditor editor_;
};

}  // namespace

TEST_F(FileMetadata, WrittenDescriptionReachesTheFileAndReadsBack) {
  std::string path = MakeWmv(dir_, "show.wmv", 2);
  ASSERT_FALSE(path.empty());

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

  // Independently of the editor: the attributes are in the file.
  TagLib::ASF::File file(path.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ("Nachrichten – Ü", file.tag()->title().to8Bit(true));
  const std::pair<const char*, std::string> attributes[] = {
      {"WM/SubTitle", subtitle},
      {"WM/Genre", "News"},
      {"WM/SubTitleDescription", "Line one\nline two 🎬"},
      {"WM/MediaStationName", "Das Erste HD"},
      {"WM/MediaStationCallSign", "Das Erste HD"},
      {"WM/MediaOriginalChannel", "tv.channel.42"}};
  for (const auto& a : attributes) {
    EXPECT_EQ(std::vector<std::string>{a.second}, AttributesInFile(path, a.first)) << a.first;
  }

  Schedule read;
  const int64_t start = 1700000000;
  ASSERT_TRUE(read.PopulateFromFile(&editor_, W(path), L"Given channel", L"Given title", start,
                                    L"video/x-tv"));
  // The file's station wins over the given channel; "Title" is not read.
  EXPECT_EQ(std::make_tuple(read.m_subtitle, read.m_category, read.m_description, read.m_channel,
                            read.m_channelName, read.m_name, read.m_duration, read.m_endTime),
            std::make_tuple(written.m_subtitle, written.m_category, written.m_description,
                            written.m_channel, written.m_channelName, std::wstring(L"Given title"),
                            2, start + 2));
}

TEST_F(FileMetadata, PopulateFillsDefaultsAndPlayDuration) {
  std::string path = MakeWmv(dir_, "long.wmv", 1800);
  ASSERT_FALSE(path.empty());
  const int64_t start = 1234567890;
  struct {
    const wchar_t* mimetype;
    const wchar_t* quality;
  } cases[] = {{L"video/x-tv", L"3"}, {L"video/x-inputdevice", L"high"}};
  for (const auto& c : cases) {
    Schedule s;
    s.m_owner = L"7";
    ASSERT_TRUE(s.PopulateFromFile(&editor_, W(path), L"Channel 5", L"Title", start, c.mimetype));
    // No station in the file: the given channel stays.
    EXPECT_EQ(
        std::make_tuple(s.m_duration, s.m_endTime, s.m_filePath, s.m_name, s.m_keepUntil, s.m_owner,
                        s.m_channelName, s.m_channelMimetype, s.m_status, s.m_quality, s.m_tuner,
                        s.m_type, s.m_subtitle + s.m_category + s.m_description),
        std::make_tuple(1800, start + 1800, W(path), std::wstring(L"Title"), 1, std::wstring(),
                        std::wstring(L"Channel 5"), std::wstring(c.mimetype),
                        std::wstring(L"DVRSTATE_COMPLETE"), std::wstring(c.quality),
                        std::wstring(L"any"), std::wstring(L"Recovered"), std::wstring()));
  }
}

TEST_F(FileMetadata, FileWithoutPlayDurationGivesMinusOne) {
  std::string path = MakeWmv(dir_, "noduration.wmv", 2);
  ASSERT_FALSE(path.empty());
  // Zero the play duration of the file properties object.
  std::vector<char> bytes = ReadBytes(path);
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

TEST_F(FileMetadata, EveryAttributeOfTheNameIsChanged) {
  std::string path = MakeWmv(dir_, "genres.wmv", 2);
  ASSERT_FALSE(path.empty());
  {
    TagLib::ASF::File file(path.c_str());
    ASSERT_TRUE(file.isValid());
    file.tag()->addAttribute("WM/Genre", TagLib::ASF::Attribute(TagLib::String("Drama")));
    file.tag()->addAttribute("WM/Genre", TagLib::ASF::Attribute(TagLib::String("Comedy")));
    ASSERT_TRUE(file.save());
  }
  ASSERT_EQ(2u, AttributesInFile(path, "WM/Genre").size());
  Schedule s;
  s.m_filePath = W(path);
  s.m_category = L"Sport";
  ASSERT_TRUE(s.SetFileMetadata(&editor_));
  EXPECT_EQ((std::vector<std::string>{"Sport", "Sport"}), AttributesInFile(path, "WM/Genre"));
}

TEST_F(FileMetadata, BrokenOrMissingFilesFailCleanly) {
  std::string good = MakeWmv(dir_, "good.wmv", 2);
  ASSERT_FALSE(good.empty());
  std::vector<char> wmv = ReadBytes(good);

  const std::string text = dir_.path() + "/notes.wmv";
  WriteBytes(text, std::vector<char>{'h', 'e', 'l', 'l', 'o', '\n'});
  const std::string truncated = dir_.path() + "/truncated.wmv";
  WriteBytes(truncated, std::vector<char>(wmv.begin(), wmv.begin() + 40));
  const std::string empty = dir_.path() + "/empty.wmv";
  WriteBytes(empty, {});
  const std::string garbage = dir_.path() + "/garbage.wmv";
  std::vector<char> noise(wmv.begin(), wmv.begin() + 16);  // a real header GUID, then noise
  for (int i = 0; i < 4096; ++i) noise.push_back(static_cast<char>((i * 131) ^ 0x5A));
  WriteBytes(garbage, noise);

  for (const std::string& path : {text, truncated, empty, garbage,
                                  dir_.path() + "/missing.wmv", dir_.path()}) {
    SCOPED_TRACE(path);
    std::vector<char> before = ReadBytes(path);
    Schedule s;
    s.m_duration = 99;
    s.m_subtitle = L"kept";
    EXPECT_FALSE(s.PopulateFromFile(&editor_, W(path), L"Chan", L"Name", 500, L"video/x-tv"));
    // The defaults of the first step stay; nothing else is touched.
    EXPECT_EQ(
        s.m_status + L"/" + s.m_type + L"/" + s.m_subtitle + L"/" + std::to_wstring(s.m_duration),
        L"DVRSTATE_COMPLETE/Recovered/kept/99");
    s.m_filePath = W(path);
    EXPECT_FALSE(s.SetFileMetadata(&editor_));
    EXPECT_EQ(before, ReadBytes(path));
  }
  Schedule noPath;
  EXPECT_FALSE(noPath.SetFileMetadata(&editor_));

  // The editor is still usable after all that.
  Schedule s;
  EXPECT_TRUE(s.PopulateFromFile(&editor_, W(good), L"C", L"T", 0, L"video/x-tv"));
}

TEST_F(FileMetadata, EditorAbsentOrMisusedFails) {
  std::string path = MakeWmv(dir_, "editor.wmv", 2);
  ASSERT_FALSE(path.empty());
  MetadataEditor& editor = editor_;
  std::vector<uint8_t> value;
  MetadataType type;
  EXPECT_EQ(NS_E_INVALID_REQUEST, editor.GetAttribute(L"WM/Genre", &value, &type));
  EXPECT_EQ(NS_E_INVALID_REQUEST, editor.Close());
  EXPECT_EQ(E_FAIL, editor.Open(L"", false));

  ASSERT_EQ(S_OK, editor.Open(W(path), false));
  EXPECT_EQ(E_FAIL, editor.Open(W(path), false));  // one file at a time
  EXPECT_EQ(ASF_E_NOTFOUND, editor.GetAttribute(L"WM/NoSuchThing", &value, &type));
  EXPECT_EQ(S_OK, editor.Close());

  // Without an editor nothing opens.
  Schedule s;
  s.m_filePath = W(path);
  EXPECT_FALSE(s.SetFileMetadata(nullptr));
  EXPECT_FALSE(s.PopulateFromFile(nullptr, W(path), L"C", L"T", 0, L"video/x-tv"));
  EXPECT_TRUE(s.PopulateFromFile(&editor, W(path), L"C", L"T", 0, L"video/x-tv"));
}

