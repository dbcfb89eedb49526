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
  long Call(const wchar_t* method, const VARIANT& in, VARIANT* out) {
    AutoVariant ret;
    EXPECT_EQ(client_.Request(L"ZoVIZ", method, in, out, 0, &ret), 0) << method;
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  long CallStrings(const wchar_t* method, std::initializer_list<std::wstring> items, VARIANT* out) {
    AutoVariant in;
    VUtil::CreateArray(&in, VT_VARIANT, static_cast<long>(items.size()));
    long i = 0;
    for (const std::wstring& item : items) VUtil::PutElement(&in, i++, item);
    return Call(method, in, out);
  }
  long CallScalar(const wchar_t* method, int32_t value) {
    AutoVariant in, out;
    in.get().vt = VT_I4;
    in.get().lVal = value;
    return Call(method, in, &out);
  }
  long CallScalar(const wchar_t* method, const std::wstring& text) {
    AutoVariant in, out;
    in.get().vt = VT_BSTR;
    in.get().bstrVal = SysAllocString(text.c_str());
    return Call(method, in, &out);
  }
  int32_t GetLong(const wchar_t* method) {
    AutoVariant in, out;
    EXPECT_EQ(Call(method, in, &out), 0);
    EXPECT_EQ(out.get().vt, VT_I4);
    return out.get().lVal;
  }
  std::wstring GetText(const wchar_t* method) {
    AutoVariant in, out;
    EXPECT_EQ(Call(method, in, &out), 0);
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
  EXPECT_EQ(CallScalar(L"SetPVRRecordPadding", 45), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 45);
  EXPECT_EQ(GetPaddingTime(), 45);

  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 200);
  EXPECT_EQ(CallScalar(L"SetPVRDiskFreeSpaceRequired", 500), 0);
  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 500);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 500000);

  AutoVariant out;
  // The key in any letter case re-reads the floor.
  EXPECT_EQ(CallStrings(L"SetPVRConfig", {L"FreeSpaceRequired", L"300"}, &out), 0);
  EXPECT_EQ(CallStrings(L"SetPVRConfig", {L"freespacerequired", L"300"}, &out), 0);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 300000);
  EXPECT_EQ(CallStrings(L"SetPVRConfig", {L"RecordPadding", L"abc"}, &out), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 0);

  EXPECT_EQ(CallStrings(L"GetPVRConfig", {L"Version"}, &out), 0);
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"7");
  EXPECT_EQ(CallStrings(L"GetPVRConfig", {L"NoSuchKey"}, &out), 103);

  // A value with quotes and non-ASCII text round-trips.
  Config::SetString(L"Note", L"it's \"caf\u00e9\" \U0001F600 100%");
  EXPECT_EQ(CallStrings(L"SetPVRConfig", {L"Note", L"Bob's 'quoted' \\ value \U0001F600"}, &out), 0);
  EXPECT_EQ(CallStrings(L"GetPVRConfig", {L"Note"}, &out), 0);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Bob's 'quoted' \\ value \U0001F600");
}

TEST_F(SettingsServices, BadParametersAnswerWithTheExceptionAndChangeNothing) {
  AutoVariant scalar, out;
  scalar.get().vt = VT_BSTR;
  scalar.get().bstrVal = SysAllocString(L"RecordPadding");
  EXPECT_EQ(Call(L"SetPVRConfig", scalar, &out), 1);  // not an array
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Not an array of variant or string");
  EXPECT_EQ(CallStrings(L"SetPVRConfig", {L"RecordPadding"}, &out), 1);  // value missing
  AutoVariant mistyped;
  VUtil::CreateArray(&mistyped, VT_VARIANT, 2);
  VUtil::PutElement(&mistyped, 0, std::wstring(L"RecordPadding"));
  VUtil::PutElement(&mistyped, 1, static_cast<int32_t>(99));
  EXPECT_EQ(Call(L"SetPVRConfig", mistyped, &out), 1);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 30);
}

TEST_F(SettingsServices, RecordingFoldersAreCheckedBeforeTheyChange) {
  std::wstring video = GetText(L"GetPVRVideoRecordingDirectory");
  std::wstring audio = GetText(L"GetPVRAudioRecordingDirectory");
  EXPECT_EQ(video, tev::FromStdUtf8((root_ / "documents/Recorded TV").string()));
  EXPECT_EQ(audio, tev::FromStdUtf8((root_ / "documents/Recorded Audio").string()));
  EXPECT_TRUE(fs::is_directory(root_ / "documents/Recorded TV"));

  std::wstring upper = audio;
  for (wchar_t& c : upper) c = std::towupper(c);
  EXPECT_EQ(CallScalar(L"SetPVRVideoRecordingDirectory", upper), 121);
  EXPECT_EQ(CallScalar(L"SetPVRVideoRecordingDirectory",
                       tev::FromStdUtf8((root_ / "missing").string())), 122);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);

  fs::path moved = root_ / "Bob's TV \xF0\x9F\x93\xBA";
  fs::create_directories(moved);
  std::wstring movedText = tev::FromStdUtf8(moved.string());
  EXPECT_EQ(CallScalar(L"SetPVRVideoRecordingDirectory", L"  " + movedText + L" "), 0);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), movedText);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), movedText);
  EXPECT_FALSE(fs::exists(moved / "__tev__test__"));
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
      AutoVariant in, out;
      in.get().vt = VT_BSTR;
      in.get().bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
      EXPECT_EQ(Call(method, in, &out), 1) << tev::ToStdUtf8(text);
      EXPECT_EQ(out.get().vt, VT_BSTR);
    }
  }
  for (const std::wstring& text : bad) {
    AutoVariant out;
    EXPECT_EQ(CallStrings(L"SetPVRConfig", {kConfigVideoDirectory, text}, &out), 1);
  }
  EXPECT_TRUE(fs::is_directory(empty));
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
  EXPECT_TRUE(fs::is_directory(full / "sub"));
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);
  EXPECT_EQ(GetText(L"GetPVRAudioRecordingDirectory"), audio);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), video);
  EXPECT_EQ(Config::GetString(kConfigAudioDirectory), audio);

  // The folder itself is still accepted afterwards.
  EXPECT_EQ(CallScalar(L"SetPVRVideoRecordingDirectory", fullText), 0);
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
}

}  // namespace
