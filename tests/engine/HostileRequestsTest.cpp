// Every service of "ZoVIZ" against what a hostile client can send: 1 MB
// texts, invalid UTF-8, NUL, quotes, "..", emoji, wrong types, NaN and far
// dates, in every parameter slot of ScheduleRecording. After each request the module answers the next one,
// the database passes its integrity check and no file has appeared or
// disappeared outside the recording folders.
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nats/nats.h>

#include "bus/CVelAtl.h"
#include "tests/engine/EngineFixture.h"
#include "tests/common/OfferingSatellite.h"
#include "vel/Subjects.h"
#include "vel/WireCodec.h"

namespace {

namespace fs = std::filesystem;

// JSON texts of single values, each hostile in its own way (requests
// nested too deep are refused before any service, see the wire tests).
std::vector<std::string> HostileValues() {
  return {
      "\"" + std::string(60000, 'x') + "\"",
      "\"a\\u0000b\"",
      "\"\\ud800 lone\"",
      "\"q', '', '', '', '', '', '', '', '', 0); UPDATE Schedules SET Name = 'x'; --\"",
      "\"../../../../etc\"",
      "\"\\ud83d\\ude00 Show \xF0\x9F\x93\xBA\"",
      "null",
      "true",
      "[]",
      "{\"vt\":\"EMPTY\"}",
      "2147483647",
      "-9223372036854775808",
      "18446744073709551615",
      "1e308",
      "{\"vt\":\"R8\",\"v\":\"nan\"}",
      "{\"vt\":\"DATE\",\"v\":\"nan\"}",
      "{\"vt\":\"DATE\",\"v\":1e308}",
      "{\"vt\":\"DATE\",\"v\":\"9999-12-31T23:59:59Z\"}",
      "{\"vt\":\"ARRAY|UI1\",\"lbound\":-2147483648,\"v\":[1]}",
      "{\"vt\":\"I2\",\"v\":70000}",
      "{\"vt\":\"NOPE\",\"v\":1}",
  };
}

// A request any client could send: a programme tomorrow on "ch1".
std::vector<std::string> PlainScheduleRecording() {
  return {"\"bob\"", "\"BBC One\"", "\"ch1\"", "{\"vt\":\"DATE\",\"v\":\"2031-06-01T20:00:00Z\"}",
          "3600000", "\"Show\"", "\"News\"", "\"A story\"", "\"high\"", "\"t1\"", "\"Part 1\"",
          "2", "0", "\"\"", "0"};
}

std::string Join(const std::vector<std::string>& items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
  return text + "]";
}

class HostileRequests : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
    // Files outside the recording folders that must stay as they are.
    fs::create_directories(dir_.path() + "/outside/sub");
    std::ofstream(dir_.path() + "/outside/keep.txt") << "keep";
    const std::string url = "nats://" + bus_.hostUtf8();
    ASSERT_EQ(natsConnection_ConnectTo(&raw_, url.c_str()), NATS_OK);
    ASSERT_EQ(client_.Connect(bus_.host(), L"HostileClient"), 0);
    before_ = FilesOutsideRecordingFolders();
  }
  void TearDown() override {
    client_.Disconnect();
    if (raw_) natsConnection_Destroy(raw_);
    EngineFixture::TearDown();
  }

  std::set<std::string> FilesOutsideRecordingFolders() {
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_.path(), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string path = it->path().string();
      if (path.rfind(videoDir_, 0) == 0 || path.rfind(audioDir_, 0) == 0) continue;
      files.insert(path);
    }
    return files;
  }

  // Sends `body` to `method` and checks everything the module promises.
  void Send(const std::wstring& method, const std::string& body, const std::string& what) {
    SCOPED_TRACE(tev::ToStdUtf8(method) + " " + what.substr(0, 120));
    const std::string subject = vel::DirectSubject(L"ZoVIZ", method);
    natsMsg* reply = nullptr;
    ASSERT_EQ(natsConnection_Request(&reply, raw_, subject.c_str(), body.data(),
                                     static_cast<int>(body.size()), 20000),
              NATS_OK);
    vel::WireReply decoded;
    std::string error;
    EXPECT_EQ(vel::DecodeReply(natsMsg_GetData(reply), natsMsg_GetDataLength(reply), &decoded,
                               &error),
              vel::WireFault::kNone)
        << error;
    natsMsg_Destroy(reply);

    AutoVariant in, out, ret;
    ASSERT_EQ(client_.Request(L"ZoVIZ", L"GetPVRRecordPadding", in.get(), &out, 0, &ret), 0);
    EXPECT_EQ(ret.get().lVal, 0);
    dbtest::RawDb db(dbPath_);
    EXPECT_EQ(db.Value("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(FilesOutsideRecordingFolders(), before_);
  }

  natsConnection* raw_ = nullptr;
  tev::test::OfferingSatellite client_;
  std::set<std::string> before_;
};

TEST_F(HostileRequests, EveryServiceSurvivesEveryValueInEverySlot) {
  const std::vector<std::string> values = HostileValues();
  const std::string huge = "\"" + std::string(1000000, 'y') + "\"";
  for (const CVelAtlService& service : CVelAtlServiceTable()) {
    const std::wstring method = service.name;
    const std::string head = "{\"method\":\"" + tev::ToStdUtf8(method) + "\",\"in\":";
    // Not JSON, or not UTF-8.
    Send(method, head + "\"\xff\xfe\xc0\xaf\"}", "invalid UTF-8");
    Send(method, head + std::string("\"a\0b\"}", 6), "raw NUL");
    Send(method, "{\"in\":", "truncated");
    Send(method, head + huge + "}", "1 MB text");
    for (const std::string& value : values) {
      Send(method, head + value + "}", value);
      const std::string fifteen = Join(std::vector<std::string>(15, value));
      if (fifteen.size() < 900000) Send(method, head + fifteen + "}", "15 x " + value);
    }
  }
  // Each parameter of a request that would otherwise schedule.
  const std::vector<std::string> plain = PlainScheduleRecording();
  for (size_t slot = 0; slot < plain.size(); ++slot) {
    for (const std::string& value : values) {
      std::vector<std::string> items = plain;
      items[slot] = value;
      Send(L"ScheduleRecording", "{\"method\":\"ScheduleRecording\",\"in\":" + Join(items) + "}",
           "slot " + std::to_string(slot) + ": " + value);
    }
    std::vector<std::string> items = plain;
    items[slot] = huge.substr(0, 900000) + "\"";
    Send(L"ScheduleRecording", "{\"method\":\"ScheduleRecording\",\"in\":" + Join(items) + "}",
         "slot " + std::to_string(slot) + ": 900 KB");
  }
  // Whatever was scheduled is in the recording folder, stored as sent.
  dbtest::RawDb db(dbPath_);
  for (const auto& row : db.Rows("SELECT FilePath FROM Schedules")) {
    EXPECT_EQ(row[0].rfind(videoDir_ + "/", 0), 0u) << row[0];
    EXPECT_EQ(row[0].find("/..", videoDir_.size()), std::string::npos) << row[0];
  }
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE Name = 'x'"), "0");
}

}  // namespace
