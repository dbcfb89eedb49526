// Recording requests on a real database with scripted peers on a loopback bus: their
// intake, and every service of "ZoVIZ" against hostile values in every slot.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nats/nats.h>

#include "bus/CVelAtl.h"
#include "db/Schedule.h"
#include "platform/Clock.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/engine/EngineFixture.h"
#include "vel/Subjects.h"
#include "vel/WireCodec.h"

namespace {

using enginetest::Value;
namespace fs = std::filesystem;

class Intake : public enginetest::EngineFixture {
 protected:
  size_t FilesIn(const std::string& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }
};

TEST_F(Intake, AScheduledRowCarriesTheRequest) {
  const int64_t now = tev::Clock::Now();
  const int64_t minute = (now + 7200) / 60 * 60;
  ScheduleAnswer result;
  ASSERT_EQ(Add(L"Bob's Show", minute + 37, 3600, 0, L"video/x-tv", L"", &result), 0);

  auto rows = Rows(
      "StartTime, EndTime, Status, Type, Owner, Subtitle, EpisodeTitle, KeepUntil, "
      "Name, Quality, Duration, FilePath, TevMediumId");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  // Starts on the whole minute plus one second.
  EXPECT_EQ(std::vector<std::string>(row.begin(), row.begin() + 11),
            (std::vector<std::string>{DbTime(minute + 1), DbTime(minute + 1 + 3600),
                                      "DVRSTATE_SCHEDULED", "Automatic", "", "Part 1", "Part 1",
                                      "2", "Bob's Show", "high", "3600"}));
  EXPECT_EQ(fs::path(row[11]).parent_path().string(), videoDir_);
  EXPECT_EQ(fs::path(row[11]).extension().string(), ".asf");
  ASSERT_EQ(result.kind, ScheduleAnswer::Kind::kMediumId);
  EXPECT_FALSE(row[12].empty());
  EXPECT_EQ(tev::ToStdUtf8(result.mediumId), row[12]);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(FilesIn(videoDir_), 0u);  // nothing is created for a later recording
  EXPECT_FALSE(Engine().Intake().IsPendingFile(tev::FromStdUtf8(row[11])));
}

TEST_F(Intake, EveryClientTextIsStoredAsTextNeverAsSql) {
  const int64_t minute = (tev::Clock::Now() + 7200) / 60 * 60;
  ASSERT_EQ(Add(L"Earlier", minute, 600), 0);
  // It would close the statement and run its own, in both inserts (later and now).
  const std::wstring text =
      L"q', '', '', '', '', '', '', '', '', 0); UPDATE Schedules SET Name = 'x'; --";
  for (int32_t recordNow : {0, 1}) {
    const std::wstring name = text + std::to_wstring(recordNow);
    const int64_t start = minute + 3600 * (1 + recordNow);
    RecordingRequest hostile = Request(name, start, 600);
    hostile.category = hostile.description = hostile.quality = hostile.tuner = text;
    hostile.subtitle = text;
    hostile.recordNow = recordNow;
    EXPECT_EQ(Engine().Intake().Add(hostile, nullptr), 0) << tev::ToStdUtf8(name);
    const auto rows = Rows("Quality, Category, Description, Tuner, Subtitle",
                           "Name = '" + Quoted(tev::ToStdUtf8(name)) + "'");
    ASSERT_EQ(rows.size(), 1u) << tev::ToStdUtf8(name);
    for (const std::string& value : rows[0]) EXPECT_EQ(value, tev::ToStdUtf8(text));
  }
  EXPECT_EQ(Rows("Name").at(0).at(0), "Earlier");
  EXPECT_EQ(Rows("Name", "Name = 'x'").size(), 0u);
  EXPECT_EQ(dbtest::RawDb(dbPath_).Value("PRAGMA integrity_check"), "ok");
}

TEST_F(Intake, AStartThatHasPassedRecordsAtOnceForTheWholeDuration) {
  const int64_t now = tev::Clock::Now();
  // Both move to now and record their whole duration plus the padding.
  ASSERT_EQ(Add(L"Late", now - 600, 1800), 0);
  ASSERT_EQ(Add(L"Over", now - 7200, 900, 0, L"video/x-inputdevice"), 0);

  auto rows = Rows("Name, Status, Type, StartTime, Duration, FilePath");
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[1], "DVRSTATE_RECORDING") << row[0];
    // The row written before the streamer was asked keeps its type.
    EXPECT_EQ(row[2], "Automatic") << row[0];
    const int64_t start = GetTime3(tev::FromStdUtf8(row[3]));
    EXPECT_LE(std::llabs(start - now), 2) << row[0];
    EXPECT_FALSE(Engine().Intake().IsPendingFile(tev::FromStdUtf8(row[5])));
  }
  EXPECT_NEAR(std::stoi(rows[0][4]), 1830, 1);
  EXPECT_NEAR(std::stoi(rows[1][4]), 930, 1);

  auto starts = streamer_.RequestsOf(L"StartStream");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(peertest::Str(starts[0].get(), 11), tev::FromStdUtf8(rows[0][5]));
  EXPECT_NEAR(VUtil::GetLongElement(starts[0].get(), 10), 1830, 1);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStartRecording", 2, 5000));
  EXPECT_EQ(peertest::Str(listener_.RequestsOf(L"NotifyStartRecording")[0].get(), 0), L"Late");
}

TEST_F(Intake, RecordNowOpenEndedOrWithNothingLeft) {
  ASSERT_EQ(Add(L"Open", 0, 0, 1), 0);
  EXPECT_EQ(Rows("Status, Duration"), (Table{{"DVRSTATE_RECORDING", "0"}}));
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(VUtil::GetLongElement(streamer_.RequestsOf(L"StartStream")[0].get(), 10), 0);

  // A negative duration leaves nothing to record and no address to retry.
  const size_t files = FilesIn(videoDir_);
  EXPECT_EQ(Add(L"Nothing", 0, -1, 1), 110);
  EXPECT_EQ(Add(L"Nothing web", 0, -1, 1, L"video/x-webwin"), 110);
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(FilesIn(videoDir_), files);
  EXPECT_EQ(Add(L"Episode", 0, -1, 1, L"video/x-tv", L"http://example.invalid/e1"), 0);
  EXPECT_EQ(Rows("Status, EpisodeUrl", "Name = 'Episode'")[0][0], "DVRSTATE_SCHEDULED");
}

TEST_F(Intake, TheStreamersFileNameReplacesOurs) {
  const std::wstring renamed = tev::FromStdUtf8(videoDir_) + L"/renamed by streamer.asf";
  streamer_.SetHandler(L"StartStream", [&](const VARIANT& in, VARIANT* out) {
    const int32_t id = tev::peers::ReadInteger(in, 1);
    Value::Array({Value::Array({Value::Long(id), Value::Str(L"ch1"), Value::Str(renamed),
                                Value::Long(60), Value(),
                                Value::Pairs({{L"destination", Value::Str(renamed)}})})})
        .CopyTo(out);
    return 0;
  });
  ASSERT_EQ(Add(L"Renamed", 0, 600, 1), 0);
  EXPECT_EQ(Rows("FilePath, Status, Type"),
            (Table{{tev::ToStdUtf8(renamed), "DVRSTATE_RECORDING", "Manual"}}));
  EXPECT_FALSE(Engine().Intake().IsPendingFile(renamed));
}

TEST_F(Intake, RefusalsLeaveNothingBehind) {
  streamer_.SetReply(L"StartStream", 5);
  EXPECT_EQ(Add(L"Refused", 0, 600, 1), 115);
  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_EQ(FilesIn(videoDir_), 0u);
  streamer_.ResetReply(L"StartStream");

  // A mimetype without a file format has no file name.
  EXPECT_EQ(Add(L"Odd", tev::Clock::Now() + 3600, 600, 0, L"foo/bar"), 119);

  fs::remove_all(videoDir_);
  EXPECT_EQ(Add(L"No folder", 0, 600, 1), 122);
  std::ofstream(videoDir_) << "x";
  EXPECT_EQ(Add(L"Folder is a file", 0, 600, 1), 122);
  fs::remove(videoDir_);
  fs::create_directories(videoDir_);

  env_.SetNotWritable(true);
  EXPECT_EQ(Add(L"Read-only", 0, 600, 1), 123);
  env_.SetNotWritable(false);
  env_.SetNoSpace(true);
  EXPECT_EQ(Add(L"Disk full", 0, 600, 1), 107);
  env_.SetNoSpace(false);

  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_EQ(FilesIn(videoDir_), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
}

TEST_F(Intake, PastSchedulesBecomeMissedOrRetried) {
  const int64_t now = tev::Clock::Now();
  auto insert = [&](const std::string& name, const std::string& status, int64_t end,
                    const std::string& url) {
    enginetest::RowSpec planned = Planned(name, status, end - 600, 600);
    planned.episodeUrl = url;
    Insert(planned);
  };
  insert("old", "DVRSTATE_SCHEDULED", now - 120, "");
  insert("oldurl", "DVRSTATE_SCHEDULED", now - 120, "http://e/1");
  insert("conflict", "DVRSTATE_CONFLICT", now - 3600, "");
  insert("skip", "DVRSTATE_SKIP", now - 3600, "");
  insert("recent", "DVRSTATE_SCHEDULED", now - 30, "");
  insert("done", "DVRSTATE_COMPLETE", now - 3600, "");
  Engine().Intake().ChangePastScheduledToMissed(tev::Clock::Now());
  EXPECT_EQ(Rows("Status"), (Table{{"DVRSTATE_MISSED"},
                                   {"DVRSTATE_RETRY"},
                                   {"DVRSTATE_MISSED"},
                                   {"DVRSTATE_MISSED"},
                                   {"DVRSTATE_SCHEDULED"},
                                   {"DVRSTATE_COMPLETE"}}));
  // All four published in one request.
  ASSERT_EQ(media_.CountOf(L"AddMedia"), 1u);
  Value lists = peertest::Elem(media_.RequestsOf(L"AddMedia")[0].get(), 1);
  EXPECT_EQ(VUtil::GetArrayLength(lists.get()), 4);

  const int id = std::stoi(Rows("ID", "Name = 'recent'")[0][0]);
  Engine().Intake().SetScheduleOwner(id, 7);
  EXPECT_EQ(Column(id, "Owner"), "7");
  Engine().Intake().SetScheduleOwner(id, L"");
  EXPECT_EQ(Column(id, "Owner"), "");
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 2u);
}

// JSON texts of single values, each hostile in its own way.
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
  // A request any client could send: a programme in 2031 on "ch1".
  const std::vector<std::string> plain = {
      "\"bob\"",  "\"BBC One\"", "\"ch1\"",    "{\"vt\":\"DATE\",\"v\":\"2031-06-01T20:00:00Z\"}",
      "3600000",  "\"Show\"",    "\"News\"",   "\"A story\"",
      "\"high\"", "\"t1\"",      "\"Part 1\"", "2",
      "0",        "\"\"",        "0"};
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
  // Whatever was scheduled is one file right in the recording folder.
  dbtest::RawDb db(dbPath_);
  for (const auto& row : db.Rows("SELECT FilePath FROM Schedules")) {
    ASSERT_EQ(row[0].rfind(videoDir_ + "/", 0), 0u) << row[0];
    const std::string file = row[0].substr(videoDir_.size() + 1);
    EXPECT_EQ(file.find('/'), std::string::npos) << row[0];
    EXPECT_NE(file, "..");
  }
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules WHERE Name = 'x'"), "0");
}

}  // namespace
