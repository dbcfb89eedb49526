#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/Registry.h"
#include "tests/common/TempRoot.h"

namespace {

const wchar_t kConfigKey[] = L"SOFTWARE\\TEV Networks\\Tev\\Config";

}  // namespace

class CRegistryTest : public ::testing::Test {
 protected:
  void Write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  tev::test::TempDir dir_{"registry-test."};
  const std::string root_ = dir_.path();
  const std::string path_ = root_ + "/registry.ini";
};

TEST_F(CRegistryTest, StringsAsTheFileHoldsThem) {
  Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\n"
        "host=127.0.0.1\n"
        "empty=\n"
        "padded=\"  padded  \"\n"
        "quotes=\"\"quoted\"\"\n"
        "one=\"\n"
        "text = a=b ;c #d  \n"
        "path=C:\\Users\\Public\n"
        "utf8=\xC3\xBCn\xC3\xAF \xF0\x9F\x98\x80\n");
  CRegistryImpl registry(path_);
  const std::pair<const wchar_t*, std::wstring> expected[] = {
      {L"host", L"127.0.0.1"},        {L"empty", L""},       {L"padded", L"  padded  "},
      {L"quotes", L"\"quoted\""},     {L"one", L"\""},       {L"text", L"a=b ;c #d"},
      {L"path", L"C:\\Users\\Public"}, {L"utf8", L"\u00fcn\u00ef \U0001F600"},
  };
  for (const auto& entry : expected) {
    std::wstring read;
    EXPECT_TRUE(registry.GetString(kConfigKey, entry.first, &read)) << entry.first;
    EXPECT_EQ(read, entry.second) << entry.first;
  }
  std::wstring missing = L"unchanged";
  EXPECT_FALSE(registry.GetString(kConfigKey, L"absent", &missing));
  EXPECT_FALSE(registry.GetString(L"SOFTWARE\\Other", L"host", &missing));
  EXPECT_FALSE(registry.GetString(kConfigKey, L"host", nullptr));
  EXPECT_EQ(missing, L"unchanged");

  // Lines far longer than a fixed line buffer are read whole, up to 1,023 characters.
  const std::string exact(1023, 'h');
  Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=" + exact +
        "\nnext=1\n");
  std::wstring read;
  EXPECT_TRUE(registry.GetString(kConfigKey, L"velDirectory.host", &read));
  EXPECT_EQ(read, std::wstring(1023, L'h'));
  EXPECT_TRUE(registry.GetString(kConfigKey, L"next", &read));
  EXPECT_EQ(read, L"1");
  std::string accented;
  for (int i = 0; i < 1500; ++i) accented += "\xC3\xA9";
  Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=" + accented +
        "\n");
  EXPECT_TRUE(registry.GetString(kConfigKey, L"velDirectory.host", &read));
  EXPECT_EQ(read, std::wstring(1023, L'\u00e9'));
}

TEST_F(CRegistryTest, KeysMapToHiveSectionsIgnoringCaseInAFileReadAfresh) {
  Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=10.0.0.2\n"
        "[hkey_local_machine\\software\\tev networks\\tev\\config]\nvelDirectory.host=second\nlate=in the second\n");
  CRegistryImpl registry(path_);
  const wchar_t* spellings[] = {L"software\\tev networks\\TEV\\config",
                                L"HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config",
                                L"\\SOFTWARE\\TEV Networks\\Tev\\Config\\"};
  for (const wchar_t* key : spellings) {
    std::wstring host;
    EXPECT_TRUE(registry.GetString(key, L"VELDIRECTORY.HOST", &host)) << key;
    EXPECT_EQ(host, L"10.0.0.2");  // the first match wins
    std::wstring late;
    EXPECT_TRUE(registry.GetString(key, L"Late", &late)) << key;
    EXPECT_EQ(late, L"in the second");
  }
  // Values above the first section belong to no key.
  Write("top=1\n[HKEY_LOCAL_MACHINE\\K]\nx=2\n");
  uint32_t read = 0;
  EXPECT_FALSE(registry.GetDWORD(L"", L"top", &read));
  EXPECT_FALSE(registry.GetDWORD(L"HKEY_LOCAL_MACHINE", L"top", &read));
  EXPECT_TRUE(registry.GetDWORD(L"K", L"x", &read));
  EXPECT_EQ(read, 2u);

  // Read afresh each time, with comments, CRLF line ends and a byte order mark.
  Write(
      "\xEF\xBB\xBF; settings\r\n"
      "[hkey_local_machine\\Software\\TEV Networks\\Tev]\r\n"
      "LogLevel = 4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Other]\r\n"
      "# comment\r\n"
      "x=1\r\n");
  uint32_t level = 0;
  EXPECT_TRUE(registry.GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &level));
  EXPECT_EQ(level, 4u);
  Write("[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=2\n[HKEY_LOCAL_MACHINE\\Other]\nx=1\n");
  EXPECT_TRUE(registry.GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &level));
  EXPECT_EQ(level, 2u);
}

TEST_F(CRegistryTest, Dwords) {
  CRegistryImpl registry(path_);
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {{"0", true, 0},          {"12", true, 12},       {"4294967295", true, 4294967295u},
               {"0x10", true, 16},      {"-1", true, 4294967295u}, {"4294967296", false, 0},
               {"12abc", false, 0},     {"", false, 0},         {"abc", false, 0},
               {"\"7\"", true, 7}};
  for (const Case& c : cases) {
    Write(std::string("[HKEY_LOCAL_MACHINE\\K]\nd=") + c.text + "\n");
    uint32_t read = 99;
    EXPECT_EQ(registry.GetDWORD(L"K", L"d", &read), c.ok) << c.text;
    EXPECT_EQ(read, c.ok ? c.value : 99u) << c.text;
  }
  EXPECT_FALSE(registry.GetDWORD(L"K", L"d", nullptr));
}

// A file the reader cannot make sense of answers nothing, not half its values.
TEST_F(CRegistryTest, ARefusedOrUnreadableFileReadsAsMissing) {
  CRegistryImpl registry(path_);
  uint32_t level = 7;
  EXPECT_FALSE(registry.GetDWORD(L"K", L"d", &level));  // no file yet
  const std::string refused[] = {
      "[HKEY_LOCAL_MACHINE\\K]\nd=1\nno equals sign\n",
      "[HKEY_LOCAL_MACHINE\\K]\nd=1\nd=2\n",
      "[HKEY_LOCAL_MACHINE\\K]\nd=1\n[HKEY_LOCAL_MACHINE\\K]\ne=1\n",
      "[HKEY_LOCAL_MACHINE\\K\nd=1\n",
      "[HKEY_LOCAL_MACHINE\\K]\n=1\n",
  };
  for (const std::string& content : refused) {
    Write(content);
    EXPECT_FALSE(registry.GetDWORD(L"K", L"d", &level)) << content;
  }
  EXPECT_EQ(level, 7u);

  // A folder where the file should be.
  CRegistryImpl folder(root_);
  std::wstring value;
  EXPECT_FALSE(folder.GetString(L"K", L"name", &value));
  EXPECT_FALSE(folder.GetDWORD(L"K", L"name", &level));
}
