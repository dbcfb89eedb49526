// What a hostile client can make the stand-in media library chew on: very
// long SearchMedia filters and field lists, and a store opened again.
#include <dirent.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peers/MediaStore.h"
#include "tests/db/DbTestSupport.h"

namespace {

using tev::peers::MediaStore;

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

TEST(MediaStoreFilters, OpeningAgainClosesTheOldConnection) {
  dbtest::TempDir dir;
  std::string error;
  MediaStore store;
  ASSERT_TRUE(store.Open(dir.path() + "/one.db", &error)) << error;
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

}  // namespace
