// The settings services as a client reaches them over a loopback bus: the
// module's endpoint with its engine started, a real database.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/engine/EngineFixture.h"

namespace fs = std::filesystem;

namespace {

using Client = tev::test::OfferingSatellite;
using enginetest::Value;

class SettingsServices : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    // No padding stored: the engine's start-up fills it in.
    dbtest::RawDb(dbPath_).Exec("DELETE FROM Config WHERE Key = 'RecordPadding'");
    UseModuleEndpoint();
    ASSERT_TRUE(Engine().Initialize());
    ASSERT_EQ(client_.Connect(bus_.host(), L"SettingsClient"), 0);
  }
  void TearDown() override {
    client_.Disconnect();
    if (pvr_) Engine().Shutdown();
    EngineFixture::TearDown();
  }

  // Calls a service; returns its return code (the bus must not fail).
  long Call(const wchar_t* method, const Value& in, VARIANT* out = nullptr) {
    AutoVariant ret, unused;
    EXPECT_EQ(client_.Request(L"ZoVIZ", method, in.get(), out ? out : &unused, 0, &ret), 0) << method;
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  static Value Strings(std::initializer_list<std::wstring> items) {
    std::vector<Value> all;
    for (const std::wstring& item : items) all.push_back(Value::Str(item));
    return Value::Array(all);
  }
  int32_t GetLong(const wchar_t* method) {
    AutoVariant out;
    EXPECT_EQ(Call(method, Value(), &out), 0);
    EXPECT_EQ(out.get().vt, VT_I4);
    return out.get().lVal;
  }
  std::wstring GetText(const wchar_t* method) {
    AutoVariant out;
    EXPECT_EQ(Call(method, Value(), &out), 0);
    return out.get().vt == VT_BSTR ? std::wstring(out.get().bstrVal) : L"<not a string>";
  }

  Client client_;
};

TEST_F(SettingsServices, PaddingFreeSpaceAndConfigReadAndChange) {
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 30);  // filled in at engine start
  EXPECT_EQ(Call(L"SetPVRRecordPadding", Value::Long(45)), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 45);
  EXPECT_EQ(GetPaddingTime(), 45);

  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 200);
  EXPECT_EQ(Call(L"SetPVRDiskFreeSpaceRequired", Value::Long(500)), 0);
  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 500);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 500000);

  AutoVariant out;
  // The key in any letter case re-reads the floor.
  EXPECT_EQ(Call(L"SetPVRConfig", Strings({L"FreeSpaceRequired", L"300"}), &out), 0);
  EXPECT_EQ(Call(L"SetPVRConfig", Strings({L"freespacerequired", L"300"}), &out), 0);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 300000);
  EXPECT_EQ(Call(L"SetPVRConfig", Strings({L"RecordPadding", L"abc"}), &out), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 0);

  EXPECT_EQ(Call(L"GetPVRConfig", Strings({L"Version"}), &out), 0);
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"7");
  EXPECT_EQ(Call(L"GetPVRConfig", Strings({L"NoSuchKey"}), &out), 103);

  // A value with quotes and non-ASCII text round-trips.
  Config::SetString(L"Note", L"it's \"caf\u00e9\" \U0001F600 100%");
  EXPECT_EQ(Call(L"SetPVRConfig", Strings({L"Note", L"Bob's 'quoted' \\ value \U0001F600"}), &out), 0);
  EXPECT_EQ(Call(L"GetPVRConfig", Strings({L"Note"}), &out), 0);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Bob's 'quoted' \\ value \U0001F600");
}

TEST_F(SettingsServices, BadParametersAnswerWithTheExceptionAndChangeNothing) {
  AutoVariant out;
  EXPECT_EQ(Call(L"SetPVRConfig", Value::Str(L"RecordPadding"), &out), 1);  // not an array
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Not an array of variant or string");
  EXPECT_EQ(Call(L"SetPVRConfig", Strings({L"RecordPadding"}), &out), 1);  // value missing
  EXPECT_EQ(Call(L"SetPVRConfig", Value::Array({Value::Str(L"RecordPadding"), Value::Long(99)}), &out),
            1);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 30);
}

// The checks themselves are the settings' own; here their codes and the
// folder as the services answer it.
TEST_F(SettingsServices, RecordingFoldersAreAnsweredAndChangedAsText) {
  const std::wstring video = GetText(L"GetPVRVideoRecordingDirectory");
  EXPECT_EQ(video, tev::FromStdUtf8(videoDir_));
  EXPECT_EQ(GetText(L"GetPVRAudioRecordingDirectory"), tev::FromStdUtf8(audioDir_));
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory",
                 Value::Str(tev::FromStdUtf8(dir_.path() + "/missing"))),
            122);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);

  fs::path moved = fs::path(dir_.path()) / "Bob's TV \xF0\x9F\x93\xBA";
  fs::create_directories(moved);
  std::wstring movedText = tev::FromStdUtf8(moved.string());
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory", Value::Str(movedText)), 0);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), movedText);
}

TEST_F(SettingsServices, FolderTextsThatAreNotPlainAbsolutePathsAreRefusedAndTouchNothing) {
  const std::wstring video = GetText(L"GetPVRVideoRecordingDirectory");
  const std::wstring audio = GetText(L"GetPVRAudioRecordingDirectory");
  fs::path empty = fs::path(dir_.path()) / "empty";
  fs::create_directories(empty);
  fs::path full = fs::path(dir_.path()) / "full";
  fs::create_directories(full / "sub");
  std::ofstream((full / "keep.txt").string()) << "x";
  const std::wstring emptyText = tev::FromStdUtf8(empty.string());
  const std::wstring fullText = tev::FromStdUtf8(full.string());
  const std::wstring bad[] = {
      emptyText + std::wstring(1, L'\0') + L"x",  // the OS would see the folder itself
      fullText + std::wstring(1, L'\0') + L"x",
      emptyText + L"/../empty",
      fullText + L"/sub/..",
      L"relative/folder",
      L"..",
      L"",
      fullText + L"/a\nb",
  };
  for (const wchar_t* method : {L"SetPVRVideoRecordingDirectory", L"SetPVRAudioRecordingDirectory"}) {
    for (const std::wstring& text : bad) {
      AutoVariant out;
      EXPECT_EQ(Call(method, Value::Str(text), &out), 1) << tev::ToStdUtf8(text);
      EXPECT_EQ(out.get().vt, VT_BSTR);
    }
  }
  for (const std::wstring& text : bad) {
    AutoVariant out;
    EXPECT_EQ(Call(L"SetPVRConfig", Strings({kConfigVideoDirectory, text}), &out), 1);
  }
  EXPECT_TRUE(fs::is_directory(empty));
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
  EXPECT_TRUE(fs::is_directory(full / "sub"));
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);
  EXPECT_EQ(GetText(L"GetPVRAudioRecordingDirectory"), audio);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), video);
  EXPECT_EQ(Config::GetString(kConfigAudioDirectory), audio);

  // The folder itself is still accepted afterwards.
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory", Value::Str(fullText)), 0);
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
}

}  // namespace
