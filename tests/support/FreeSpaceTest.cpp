#include "support/FreeSpace.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "tests/db/DbTestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(FreeSpace, ReadsTheVolumeOfADirectoryInUnitsOf1024Bytes) {
  dbtest::TempDir dir;
  dbtest::LogCapture log;
  const int64_t read = tev::GetFreeDiskSpace(dir.wpath());
  const int64_t expected = static_cast<int64_t>(fs::space(dir.path()).available / 1024);
  ASSERT_GT(read, 0);
  // Other writers on the machine may move it a little between the two.
  EXPECT_LT(std::llabs(read - expected), 64 * 1024) << read << " vs " << expected;
  // Any folder on the same volume reads the same.
  fs::create_directories(dir.path() + "/a/b");
  EXPECT_LT(std::llabs(tev::GetFreeDiskSpace(dir.wpath() + L"/a/b") - read), 64 * 1024);
  EXPECT_TRUE(log->Lines().empty());

  const std::wstring missing = dir.wpath() + L"/no such folder";
  EXPECT_EQ(tev::GetFreeDiskSpace(missing), -1);
  EXPECT_TRUE(log->Has(LOG_ERROR,
                       L"CInformationImpl::GetFreeDiskSpaceImpl failed for directory " + missing));
  EXPECT_EQ(tev::GetFreeDiskSpace(L""), -1);
}

}  // namespace
