// The file and thumbnail services as a client reaches them over a loopback
// bus: bad requests get a clear code, change nothing and leave the
// services answering.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;

class FileServices : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
    ASSERT_EQ(client_.Join(bus_.host()), 0);
    enginetest::RowValues done;
    done.status = DVRSTATE_COMPLETE;
    id_ = Row(done);
    LibrarySync::AssignTevMediumId(id_, L"M1");
    std::ofstream(tev::WideToUtf8(Path(id_))) << "recording";
  }
  void TearDown() override {
    client_.Leave();
    EngineFixture::TearDown();
  }
  // The service's return code; the bus itself must not fail.
  long Call(const wchar_t* method, const Value& in, Value* out = nullptr) {
    AutoVariant ret, reply;
    EXPECT_EQ(client_.Request(L"ZoVIZ", method, in.get(), &reply, 0, &ret), 0)
        << tev::ToStdUtf8(method);
    if (out) *out = Value(reply.get());
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }

  tev::peers::ScriptedPeer client_{L"Player", {}};
  int id_ = 0;
};

TEST_F(FileServices, PlayPositionTakesOnlyAPositionOfAKnownRecording) {
  auto position = [](const wchar_t* medium, const Value& seconds) {
    return Value::Array({Value::Str(L"bob"), Value::Str(medium), seconds});
  };
  EXPECT_EQ(Call(L"SetFilePlayPosition", position(L"M1", Value::Long(90))), 0);
  EXPECT_EQ(Column(id_, "PlayPosition"), "90");
  EXPECT_EQ(Call(L"SetFilePlayPosition", position(L"M1", Value::Long(-1))), 1);
  EXPECT_EQ(Call(L"SetFilePlayPosition", position(L"M1", Value::Double(1e12))), 1);
  EXPECT_EQ(Call(L"SetFilePlayPosition", position(L"M9", Value::Long(5))), kResultNoSuchSchedule);
  EXPECT_EQ(Call(L"SetFilePlayPosition", Value::Array({Value::Str(L"bob")})), 1);
  EXPECT_EQ(Column(id_, "PlayPosition"), "90");
}

TEST_F(FileServices, FileOfARecordingUntilItIsGone) {
  Value reply;
  ASSERT_EQ(Call(L"GetFileFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")}), &reply), 0);
  EXPECT_EQ(VUtil::GetStringElement(reply.get(), 0), Path(id_));
  Value info;
  ASSERT_EQ(Call(L"GetFileInfoFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")}), &info),
            0);
  std::wstring name;
  ASSERT_TRUE(VUtil::FindPair(info.get(), L"Name", &name));
  EXPECT_EQ(name, L"Show");
  Value list;
  ASSERT_EQ(Call(L"GetFileListInfoFromId", Value::StringArray({L"M9", L"M1"}), &list), 0);
  EXPECT_EQ(VUtil::GetArrayLength(list.get()), 2);

  std::filesystem::remove(tev::WideToUtf8(Path(id_)));
  EXPECT_EQ(Call(L"GetFileFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")})),
            kResultFileGone);
  EXPECT_EQ(Call(L"GetFileFromId", Value::Array({Value::Str(L"bob"), Value::Long(1)})), 1);
  EXPECT_EQ(Call(L"GetFileListInfoFromId", Value::Long(3)), 1);
  EXPECT_EQ(Call(L"GetFileListInfoFromId",
                 Value::StringArray(std::vector<std::wstring>(FileQueries::kMaxFileListIds + 1, L"M1"))),
            1);
  EXPECT_EQ(Call(L"GetFileInfoFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")})), 0);
}

TEST_F(FileServices, ThumbnailRequestsReachTheirServices) {
  // The library's own thumbnail callback is handed on unchanged.
  Value in = Value::Array({Value::Str(Path(id_)), Value::Long(7)});
  EXPECT_EQ(Call(L"VideoThumbnailCallback", in), 0);
  ASSERT_EQ(media_.CountOf(L"VideoThumbnailCallback"), 1u);
  EXPECT_EQ(VUtil::GetStringElement(Last(media_, L"VideoThumbnailCallback").get(), 0), Path(id_));
  media_.Leave();
  EXPECT_EQ(Call(L"VideoThumbnailCallback", in), -1);

  EXPECT_EQ(Call(L"NotifyThumbnailNeeded", Value::Array({Value::Str(Path(id_))})), 0);
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 1u);
  EXPECT_EQ(Column(id_, "ThumbnailState"), "requested");
  EXPECT_EQ(Call(L"NotifyThumbnailNeeded", Value::Array({Value::Str(L"/nowhere.asf")})), 0);
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 1u);
}

}  // namespace
