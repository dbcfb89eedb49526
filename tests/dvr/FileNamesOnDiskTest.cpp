// Recording files whose names hold characters outside the BMP: on disk the
// name is standard UTF-8 (what every other Linux tool reads), and the module
// finds and deletes the file by that name.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "support/WideText.h"
#include "tests/db/DbTestSupport.h"

namespace {

TEST(DVRFilesOnDisk, NamesOutsideTheBmpAreStandardUtf8) {
  dbtest::TempDir dir;
  dbtest::LogCapture log;
  // "Show 😀 📺.asf" as other programs write it.
  const std::string onDisk = dir.path() + "/Show \xF0\x9F\x98\x80 \xF0\x9F\x93\xBA.asf";
  std::ofstream(onDisk) << "x";
  const std::wstring path = tev::FromStdUtf8(dir.path()) + L"/Show \U0001F600 \U0001F4FA.asf";

  EXPECT_EQ(tev::ToStdUtf8(path), onDisk);
  EXPECT_TRUE(DVR::IsRecordingOnDisk(path));
  EXPECT_TRUE(DVR::DeleteFile(path));
  EXPECT_FALSE(std::filesystem::exists(onDisk));
  EXPECT_FALSE(DVR::IsRecordingOnDisk(path));
  // Nothing in the folder was created under another spelling either.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
