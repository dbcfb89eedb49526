#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/Folders.h"
#include "platform/WideText.h"
#include "tests/common/ScopedEnv.h"
#include "tests/common/TempRoot.h"

namespace fs = std::filesystem;

using tev::test::ScopedEnv;

TEST(Folders, FoldersComeFromTheEnvironmentAndAreCreatedElseTheDefaults) {
  tev::test::TempDir dir("folders-test.");
  const std::string root = dir.path();
  std::ofstream(root + "/file") << "x";

  typedef bool (*Getter)(std::wstring*);
  struct Case {
    const char* variable;
    Getter get;
  } cases[] = {{"TEV_APPDATA_DIR", &tev::CommonAppDataFolder}, {"TEV_DOCUMENTS_DIR", &tev::CommonDocumentsFolder}};
  for (const Case& c : cases) {
    {
      ScopedEnv env(c.variable, (root + "/" + c.variable + "/a/b//").c_str());
      std::wstring folder;
      ASSERT_TRUE(c.get(&folder)) << c.variable;
      EXPECT_EQ(folder, tev::FromStdUtf8(root + "/" + c.variable + "/a/b"));  // no trailing '/'
      EXPECT_TRUE(fs::is_directory(root + "/" + c.variable + "/a/b"));
      EXPECT_FALSE(c.get(nullptr));
    }
    {
      ScopedEnv env(c.variable, (root + "/file/below").c_str());  // cannot be created
      std::wstring folder = L"unchanged";
      EXPECT_FALSE(c.get(&folder));
      EXPECT_EQ(folder, L"unchanged");
    }
  }

  ScopedEnv appData("TEV_APPDATA_DIR", "");  // empty counts as unset
  ScopedEnv registry("TEV_REGISTRY_FILE", nullptr);
  std::wstring folder;
  ASSERT_TRUE(tev::CommonAppDataFolder(&folder));  // /var/lib exists on every system
  EXPECT_EQ(folder, L"/var/lib");
  EXPECT_EQ(tev::RegistryFilePath(), "/etc/tev/registry.ini");
  ScopedEnv moved("TEV_REGISTRY_FILE", "/tmp/x/registry.ini");
  EXPECT_EQ(tev::RegistryFilePath(), "/tmp/x/registry.ini");
}
