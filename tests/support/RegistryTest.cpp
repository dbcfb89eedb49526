#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/PThread.h"
#include "support/Registry.h"
#include "tests/common/TempRoot.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kConfigKey[] = L"SOFTWARE\\TEV Networks\\Tev\\Config";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

class CRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string patternText = tev::test::TempPattern("registry-test.");
    char* pattern = &patternText[0];
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    path_ = root_ + "/etc/tev/registry.ini";  // parent folders do not exist yet
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  std::string root_, path_;
};

TEST_F(CRegistryTest, StringsRoundTrip) {
  CRegistryImpl registry(path_);
  const std::wstring values[] = {
      L"127.0.0.1", L"", L"  padded  ", L"\"quoted\"", L"\"", L"a=b ;c #d", L"[not a section]",
      L"C:\\Users\\Public", L"\u00fcn\u00efc\u00f8d\u00e9 \U0001F600",
  };
  int n = 0;
  for (const std::wstring& value : values) {
    std::wstring name = L"value" + std::to_wstring(n++);
    ASSERT_TRUE(registry.SetString(kConfigKey, name, value));
    std::wstring read;
    EXPECT_TRUE(registry.GetString(kConfigKey, name, &read));
    EXPECT_EQ(read, value);
  }
  std::wstring missing = L"unchanged";
  EXPECT_FALSE(registry.GetString(kConfigKey, L"absent", &missing));
  EXPECT_FALSE(registry.GetString(L"SOFTWARE\\Other", L"value0", &missing));
  EXPECT_EQ(missing, L"unchanged");
}

TEST_F(CRegistryTest, KeysMapToHiveSectionsIgnoringCase) {
  CRegistryImpl registry(path_);
  ASSERT_TRUE(registry.SetString(kConfigKey, L"velDirectory.host", L"10.0.0.2"));
  const std::string file = ReadAll(path_);
  EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=10.0.0.2\n"),
            std::string::npos)
      << file;
  const wchar_t* spellings[] = {L"software\\tev networks\\TEV\\config",
                                L"HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config",
                                L"\\SOFTWARE\\TEV Networks\\Tev\\Config\\"};
  for (const wchar_t* key : spellings) {
    std::wstring host;
    EXPECT_TRUE(registry.GetString(key, L"VELDIRECTORY.HOST", &host)) << key;
    EXPECT_EQ(host, L"10.0.0.2");
  }
  // Overwriting keeps one line and the spelling of the name.
  ASSERT_TRUE(registry.SetString(L"software\\tev networks\\tev\\config", L"veldirectory.host", L"h2"));
  EXPECT_EQ(ReadAll(path_), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=h2\n");
}

TEST_F(CRegistryTest, ReadsFreshAndKeepsWhatItDoesNotTouch) {
  fs::create_directories(fs::path(path_).parent_path());
  WriteAll(path_,
           "; settings\r\n"
           "[hkey_local_machine\\Software\\TEV Networks\\Tev]\r\n"
           "LogLevel = 4\r\n"
           "\r\n"
           "[HKEY_LOCAL_MACHINE\\Other]\r\n"
           "# comment\r\n"
           "x=1\r\n");
  CRegistryImpl registry(path_);
  uint32_t level = 0;
  EXPECT_TRUE(registry.GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &level));
  EXPECT_EQ(level, 4u);
  WriteAll(path_, "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=2\n[HKEY_LOCAL_MACHINE\\Other]\nx=1\n");
  EXPECT_TRUE(registry.GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &level));
  EXPECT_EQ(level, 2u);

  ASSERT_TRUE(registry.SetDWORD(L"Software\\TEV Networks\\Tev", L"Added", 9));
  ASSERT_TRUE(registry.SetDWORD(L"New\\Key", L"n", 1));
  EXPECT_EQ(ReadAll(path_),
            "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=2\nAdded=9\n"
            "[HKEY_LOCAL_MACHINE\\Other]\nx=1\n\n[HKEY_LOCAL_MACHINE\\New\\Key]\nn=1\n");
}

TEST_F(CRegistryTest, Dwords) {
  CRegistryImpl registry(path_);
  for (uint32_t value : {0u, 1u, 4294967295u}) {
    ASSERT_TRUE(registry.SetDWORD(L"K", L"d", value));
    uint32_t read = 17;
    EXPECT_TRUE(registry.GetDWORD(L"K", L"d", &read));
    EXPECT_EQ(read, value);
  }
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {{"12", true, 12},    {"0x10", true, 16}, {"-1", true, 4294967295u}, {"4294967296", false, 0},
               {"12abc", false, 0}, {"", false, 0},     {"abc", false, 0},         {"\"7\"", true, 7}};
  for (const Case& c : cases) {
    WriteAll(path_, std::string("[HKEY_LOCAL_MACHINE\\K]\nd=") + c.text + "\n");
    uint32_t read = 99;
    EXPECT_EQ(registry.GetDWORD(L"K", L"d", &read), c.ok) << c.text;
    EXPECT_EQ(read, c.ok ? c.value : 99u) << c.text;
  }
  EXPECT_FALSE(registry.GetDWORD(L"K", L"d", nullptr));
}

TEST_F(CRegistryTest, LongStringsAreCutAt1023Characters) {
  CRegistryImpl registry(path_);
  const std::wstring exact(1023, L'h');
  ASSERT_TRUE(registry.SetString(kConfigKey, L"velDirectory.host", exact));
  std::wstring read;
  EXPECT_TRUE(registry.GetString(kConfigKey, L"velDirectory.host", &read));
  EXPECT_EQ(read, exact);
  ASSERT_TRUE(registry.SetString(kConfigKey, L"velDirectory.host", std::wstring(1500, L'\u00e9')));
  EXPECT_TRUE(registry.GetString(kConfigKey, L"velDirectory.host", &read));
  EXPECT_EQ(read, std::wstring(1023, L'\u00e9'));
}

TEST_F(CRegistryTest, Binary) {
  CRegistryImpl registry(path_);
  const unsigned char bytes[] = {0x00, 0x01, 0x7f, 0xff};
  ASSERT_TRUE(registry.SetBinary(L"K", L"b", bytes, 4));
  unsigned char* data = nullptr;
  long length = 0;
  ASSERT_TRUE(registry.GetBinary(L"K", L"b", &data, &length));
  ASSERT_EQ(length, 4);
  EXPECT_EQ(std::vector<unsigned char>(data, data + 4), std::vector<unsigned char>(bytes, bytes + 4));
  delete[] data;
  EXPECT_FALSE(registry.SetBinary(L"K", L"b", nullptr, 4));
  EXPECT_FALSE(registry.SetBinary(L"K", L"b", bytes, 0));

  WriteAll(path_, "[HKEY_LOCAL_MACHINE\\K]\nok=hex:0A, 1b\nodd=hex:0\nbad=hex:zz\ntext=plain\n");
  ASSERT_TRUE(registry.GetBinary(L"K", L"ok", &data, &length));
  EXPECT_EQ(std::vector<unsigned char>(data, data + length), (std::vector<unsigned char>{0x0a, 0x1b}));
  delete[] data;
  for (const wchar_t* name : {L"odd", L"bad", L"text", L"absent"}) {
    EXPECT_FALSE(registry.GetBinary(L"K", name, &data, &length)) << name;
  }
}

TEST_F(CRegistryTest, EnumValues) {
  CRegistryImpl registry(path_);
  std::map<std::wstring, std::wstring> values;
  EXPECT_EQ(registry.EnumValues(L"K", &values), 2);  // no file yet
  const unsigned char bytes[] = {1};
  ASSERT_TRUE(registry.SetString(L"K", L"s", L"text"));
  ASSERT_TRUE(registry.SetDWORD(L"K", L"d", 5));
  ASSERT_TRUE(registry.SetBinary(L"K", L"b", bytes, 1));
  EXPECT_EQ(registry.EnumValues(L"K", &values), 0);
  EXPECT_EQ(values, (std::map<std::wstring, std::wstring>{{L"s", L"text"}, {L"d", L"5"}}));
  EXPECT_EQ(registry.EnumValues(L"Missing", &values), 2);
  EXPECT_NE(registry.EnumValues(L"K", nullptr), 0);
}

TEST_F(CRegistryTest, RefusesWhatTheFileCannotHold) {
  CRegistryImpl registry(path_);
  ASSERT_TRUE(registry.SetString(L"K", L"keep", L"v"));
  const std::string before = ReadAll(path_);
  EXPECT_FALSE(registry.SetString(L"K", L"a=b", L"v"));
  EXPECT_FALSE(registry.SetString(L"K", L"", L"v"));
  EXPECT_FALSE(registry.SetString(L"K", L"line\nbreak", L"v"));
  EXPECT_FALSE(registry.SetString(L"K", L" spaced", L"v"));
  EXPECT_FALSE(registry.SetString(L"K", L"[x", L"v"));
  EXPECT_FALSE(registry.SetString(L"K", L"name", L"two\nlines"));
  EXPECT_FALSE(registry.SetString(L"Bad]Key", L"name", L"v"));
  EXPECT_FALSE(registry.SetDWORD(L"Line\nKey", L"name", 1));
  EXPECT_EQ(ReadAll(path_), before);

  // A folder where the file should be.
  CRegistryImpl broken(root_);
  std::wstring value;
  EXPECT_FALSE(broken.SetString(L"K", L"name", L"v"));
  EXPECT_FALSE(broken.GetString(L"K", L"name", &value));
  std::map<std::wstring, std::wstring> values;
  EXPECT_NE(broken.EnumValues(L"K", &values), 0);
}

TEST_F(CRegistryTest, InstanceFollowsTheEnvironment) {
  setenv("TEV_REGISTRY_FILE", path_.c_str(), 1);
  ASSERT_TRUE(CRegistry::Instance()->SetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", 3));
  EXPECT_EQ(CRegistry::Instance(), CRegistry::Instance());
  uint32_t level = 0;
  EXPECT_TRUE(CRegistryImpl(path_).GetDWORD(L"SOFTWARE\\TEV NETWORKS\\TEV", L"loglevel", &level));
  EXPECT_EQ(level, 3u);
  unsetenv("TEV_REGISTRY_FILE");
}

TEST_F(CRegistryTest, ConcurrentWritersLoseNothing) {
  CRegistryImpl registry(path_);
  struct Writer {
    CRegistryImpl* registry;
    int id;
    int Run(void*) {
      for (int i = 0; i < 40; ++i) {
        registry->SetDWORD(L"K", L"w" + std::to_wstring(id) + L"_" + std::to_wstring(i), static_cast<uint32_t>(i));
      }
      return 0;
    }
  } a{&registry, 1}, b{&registry, 2};
  {
    PThread first(&a, &Writer::Run), second(&b, &Writer::Run);
    first.join();
    second.join();
  }
  std::map<std::wstring, std::wstring> values;
  EXPECT_EQ(registry.EnumValues(L"K", &values), 0);
  EXPECT_EQ(values.size(), 80u);
}
