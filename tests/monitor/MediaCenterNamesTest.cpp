// Names of recordings made by other programs, and the module's own names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>
#include <sys/stat.h>

#include <string>

#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

class MediaCenterNames : public monitortest::MonitorFixture {};

TEST_F(MediaCenterNames, SplitTitleChannelAndLocalStart) {
  const std::string folder = dir_.path() + "/mc";
  std::filesystem::create_directories(folder);
  const int64_t modified = 1400000000;
  struct {
    const char* name;
    bool parsed;
    const wchar_t* title;
    const wchar_t* channel;
    int64_t start;  // 0: the file's modification time
  } cases[] = {
      {"Title_Chan_15_03_2009_20_30_00.dvr-ms", true, L"Title", L"Chan",
       GetTime3(L"20090315203000")},
      {"A_B_C_01_12_2010_06_05_04.DVR-MS", true, L"A_B", L"C", GetTime3(L"20101201060504")},
      {"Title_15_03_2009_20_30_00.dvr-ms", true, L"Title", L"", GetTime3(L"20090315203000")},
      {"_Lead_15_03_2009_20_30_00.dvr-ms", true, L"_Lead", L"", GetTime3(L"20090315203000")},
      {"Odd_Chan_31_02_2009_20_30_00.dvr-ms", true, L"Odd", L"Chan", 0},
      {"Odd_Chan_15_03_1969_20_30_00.dvr-ms", true, L"Odd", L"Chan", 0},
      {"Words_a_b_c_d_e_f.dvr-ms", true, L"Words", L"", 0},
      {"Few_15_03.dvr-ms", true, L"Few", L"", 0},
      {"NoNumbers.dvr-ms", true, L"NoNumbers", L"", 0},
      {"holiday.wmv", false, L"", L"", 0},
      {"no extension", false, L"", L"", 0},
  };
  FileSystemMonitor& monitor = Monitor(L"MediaCenter");
  for (const auto& c : cases) {
    const std::string path = Drop(folder, c.name);
    struct timespec times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    std::wstring channel = L"?", title = L"?", extension;
    int64_t start = -2;
    const bool parsed =
        monitor.ParseMediaCenterFilename(W(folder), W(c.name), &channel, &title, &start, &extension);
    EXPECT_EQ(parsed, c.parsed) << c.name;
    if (!parsed) continue;
    EXPECT_EQ(title, c.title) << c.name;
    EXPECT_EQ(channel, c.channel) << c.name;
    EXPECT_EQ(start, c.start != 0 ? c.start : modified) << c.name;
  }
  // The video folder asks for dvr-ms too.
  std::wstring channel, title, extension;
  int64_t start = 0;
  EXPECT_FALSE(Monitor(L"video").ParseMediaCenterFilename(W(folder), L"x_1_2_2009_0_0_0.wma",
                                                         &channel, &title, &start, &extension));
  // A name whose file is gone starts now.
  const int64_t before = tev::Clock::Now();
  EXPECT_TRUE(Monitor(L"audio").ParseMediaCenterFilename(W(folder), L"gone.wma", &channel, &title,
                                                        &start, &extension));
  EXPECT_GE(start, before);
  EXPECT_LE(start, tev::Clock::Now());
}

// The parsers never throw and give back only parts of the name.
RC_GTEST_PROP(MonitorNameParsers, NeverThrowOnAnyName, (const std::wstring& raw)) {
  std::wstring name;
  for (wchar_t c : raw) name.push_back(static_cast<wchar_t>(static_cast<uint32_t>(c) % 0x110000));
  const std::wstring variants[] = {name, name + L".dvr-ms", name + L"_1_2_2009_3_4_5.dvr-ms",
                                   name + L" Tev.asf", name + L"_" + name + L" Tev.wma"};
  FileSystemMonitor monitor(nullptr);
  monitor.ChangeFolder(L"MediaCenter");
  for (const std::wstring& variant : variants) {
    std::wstring channel, title, extension, dateText;
    int64_t start = 0;
    if (monitor.ParseMediaCenterFilename(L"/nonexistent", variant, &channel, &title, &start,
                                         &extension)) {
      RC_ASSERT(variant.find(title) != std::wstring::npos);
      RC_ASSERT(variant.find(channel) != std::wstring::npos);
    }
    if (DVR::ParseRecordingFileName(variant, &extension, &title, &channel, &dateText)) {
      RC_ASSERT(!title.empty());
      RC_ASSERT(dateText.size() == 19u);
    }
  }
}

}  // namespace
