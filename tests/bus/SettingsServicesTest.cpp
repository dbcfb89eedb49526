// The settings services as a client reaches them over a loopback bus, with a
// real database in a temporary folder.
#include <cstdlib>
#include <fstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/Database.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "module/PVRVel.h"
#include "peers/Peers.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"

namespace fs = boost::filesystem;

namespace {

using Client = tev::test::OfferingSatellite;
using tev::peers::Value;

class SettingsServices : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / fs::unique_path("tevpvr-settings-%%%%%%");
    fs::create_directories(root_);
    setenv("TEV_APPDATA_DIR", (root_ / "appdata").c_str(), 1);
    setenv("TEV_DOCUMENTS_DIR", (root_ / "documents").c_str(), 1);
    setenv("TEV_REGISTRY_FILE", (root_ / "registry.ini").c_str(), 1);
    ASSERT_TRUE(server_.Start());
    std::ofstream((root_ / "registry.ini").string())
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host="
        << tev::ToStdUtf8(server_.HostPort()) << "\n";
    const fs::path folder = root_ / "appdata/TevNetworks/TevPVR";
    database_.reset(new Database(tev::FromStdUtf8(folder.string())));
    ASSERT_TRUE(database_->Open());
    // The module as it starts: joined, then the engine's own start-up
    // (which waits for the media library) fills in the settings.
    ASSERT_EQ(media_.Join(server_.HostPort()), 0);
    pvr_.reset(new PVRVel());
    PVRVel::SetLive(pvr_.get());
    ASSERT_EQ(pvr_->Vel().RegisterWithBus(), 0);
    ASSERT_TRUE(pvr_->GetSchedules().Initialize());
    ASSERT_EQ(client_.Connect(server_.HostPort(), L"SettingsClient"), 0);
  }
  void TearDown() override {
    client_.Disconnect();
    if (pvr_) pvr_->GetSchedules().Shutdown();
    PVRVel::SetLive(nullptr);
    pvr_.reset();
    media_.Leave();
    database_.reset();
    fs::remove_all(root_);
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

  fs::path root_;
  tev::test::NatsServer server_;
  tev::peers::MediaLibraryPeer media_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<PVRVel> pvr_;
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
  EXPECT_EQ(video, tev::FromStdUtf8((root_ / "documents/Recorded TV").string()));
  EXPECT_EQ(GetText(L"GetPVRAudioRecordingDirectory"),
            tev::FromStdUtf8((root_ / "documents/Recorded Audio").string()));
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory",
                 Value::Str(tev::FromStdUtf8((root_ / "missing").string()))),
            122);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);

  fs::path moved = root_ / "Bob's TV \xF0\x9F\x93\xBA";
  fs::create_directories(moved);
  std::wstring movedText = tev::FromStdUtf8(moved.string());
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory", Value::Str(movedText)), 0);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), movedText);
}

TEST_F(SettingsServices, FolderTextsThatAreNotPlainAbsolutePathsAreRefusedAndTouchNothing) {
  const std::wstring video = GetText(L"GetPVRVideoRecordingDirectory");
  const std::wstring audio = GetText(L"GetPVRAudioRecordingDirectory");
  fs::path empty = root_ / "empty";
  fs::create_directories(empty);
  fs::path full = root_ / "full";
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
