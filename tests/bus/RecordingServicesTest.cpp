// The recording, settings and file services as a client reaches them over a
// loopback bus: the module's endpoint and engine, a real database, scripted peers.
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "tests/common/LocalTime.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;
namespace fs = std::filesystem;
using tev::test::WallClock;

using Client = tev::test::OfferingSatellite;

class RecordingServices : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
    ASSERT_EQ(client_.Connect(bus_.host(), L"RecordingClient"), 0);
  }
  void TearDown() override {
    client_.Disconnect();
    EngineFixture::TearDown();
  }

  long Call(const wchar_t* method, const Value& in, VARIANT* out = nullptr) {
    AutoVariant ret, unused;
    EXPECT_EQ(client_.Request(L"ZoVIZ", method, in.get(), out ? out : &unused, 0, &ret), 0)
        << tev::ToStdUtf8(method);
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  // A "ScheduleRecording" request; `extra` is appended after the twelve.
  static Value Request(int64_t localStart, int32_t durationMs, const std::wstring& name,
                       std::vector<Value> extra = {}) {
    std::vector<Value> in = {Value::Str(L"bob"),     Value::Str(L"BBC One"),
                             Value::Str(L"ch1"),     Value::Date(localStart),
                             Value::Long(durationMs), Value::Str(name),
                             Value::Str(L"Drama"),   Value::Str(L"desc"),
                             Value::Str(L"high"),    Value::Str(L"t1"),
                             Value::Str(L"Ep 1"),    Value::Long(1)};
    for (Value& v : extra) in.push_back(v);
    return Value::Array(in);
  }
  // A row written straight into the table, `fromNow` seconds on; its ID.
  int InsertPlanned(const std::string& name, const std::string& status, int64_t fromNow,
                    int32_t duration) {
    enginetest::RowSpec row;
    row.name = name;
    row.status = status;
    row.start = tev::Clock::Now() + fromNow;
    row.duration = duration;
    row.path = videoDir_ + "/" + name + ".asf";
    return enginetest::InsertRow(dbPath_, row);
  }

  static std::wstring Text(const AutoVariant& out) {
    EXPECT_EQ(out.get().vt, VT_BSTR);
    return out.get().vt == VT_BSTR ? std::wstring(out.get().bstrVal) : std::wstring();
  }
  // One conflict entry: name, medium id, channel, start, end, subtitle,
  // duration in ms, state.
  static void ExpectEntry(const VARIANT& list, const std::wstring& name,
                          const std::wstring& mediumId, int64_t start) {
    ASSERT_EQ(VUtil::GetArrayLength(list), 1);
    const tev::peers::Value entry = peertest::Elem(list, 0);
    const VARIANT& e = entry.get();
    ASSERT_EQ(VUtil::GetArrayLength(e), 8);
    EXPECT_EQ(
        std::vector<std::wstring>({peertest::Str(e, 0), peertest::Str(e, 1), peertest::Str(e, 2),
                                   peertest::Str(e, 5), peertest::Str(e, 7)}),
        std::vector<std::wstring>({name, mediumId, L"BBC One", L"Ep 1", L"schedule"}));
    EXPECT_EQ(std::vector<int64_t>({VUtil::GetDateElement(e, 3), VUtil::GetDateElement(e, 4),
                                    VUtil::GetLongElement(e, 6)}),
              std::vector<int64_t>({start, start + 3600, 3600000}));
  }

  Client client_;
};

TEST_F(RecordingServices, ScheduleRecordingReadsTwelveToFifteenElements) {
  const int64_t tomorrow = tev::Clock::Now() / 60 * 60 + 86400;
  AutoVariant out;
  ASSERT_EQ(Call(L"ScheduleRecording", Request(WallClock(tomorrow), 1999, L"Twelve"), &out),
            0);
  ASSERT_EQ(out.get().vt, VT_BSTR);
  // 1999 ms are 1 s; the answer is the row's medium id.
  EXPECT_EQ(Rows("Duration, Status, StartTime, TevMediumId, KeepUntil"),
            (std::vector<std::vector<std::string>>{{"1", "DVRSTATE_SCHEDULED", DbTime(tomorrow + 1),
                                                    tev::ToStdUtf8(out.get().bstrVal), "1"}}));
  EXPECT_EQ(peertest::Str(Last(media_, L"SearchMedia").get(), 1), L"tevMediumId=\"ch1\"");

  // Fifteen: record now, no address, flag empty.
  ASSERT_EQ(Call(L"ScheduleRecording",
                 Request(0, 600000, L"Fifteen", {Value::Long(1), Value::Str(L""), Value()})),
            0);
  EXPECT_EQ(Rows("Status", "Name = 'Fifteen'")[0][0], "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  // Thirteen, with record-now left empty: scheduled as with twelve.
  ASSERT_EQ(Call(L"ScheduleRecording", Request(tomorrow + 7200, 60000, L"Thirteen", {Value()})),
            0);
  EXPECT_EQ(Rows("Status", "Name = 'Thirteen'")[0][0], "DVRSTATE_SCHEDULED");
}

TEST_F(RecordingServices, AChannelThatCannotBeLookedUpStoresNothing) {
  media_.Leave();
  EXPECT_EQ(Call(L"ScheduleRecording", Request(tev::Clock::Now() + 3600, 60000, L"Lost")), 115);
  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"ScheduleRecording: the media library could not be asked "
                                       L"for channel ch1"));
}

TEST_F(RecordingServices, MalformedRequestsAnswerTheExceptionAndChangeNothing) {
  const int64_t later = tev::Clock::Now() + 3600;
  EXPECT_EQ(Call(L"ScheduleRecording", Value::Str(L"not an array")), 1);
  Value shortRequest = Request(later, 60000, L"Short");
  std::vector<Value> eleven;
  for (long i = 0; i < 11; ++i) eleven.push_back(peertest::Elem(shortRequest.get(), i));
  EXPECT_EQ(Call(L"ScheduleRecording", Value::Array(eleven)), 1);
  std::vector<Value> mistyped = eleven;
  mistyped[4] = Value::Str(L"60000");
  mistyped.push_back(Value::Long(1));
  EXPECT_EQ(Call(L"ScheduleRecording", Value::Array(mistyped)), 1);
  EXPECT_EQ(Call(L"ScheduleRecording", Request(later, 60000, L"Bad mode", {Value::Str(L"1")})), 1);
  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Long(3)), 1);
  EXPECT_EQ(Call(L"RetrySchedule", Value::Array({Value::Str(L"M1")})), 1);
  EXPECT_EQ(Call(L"NotifyTVRecordFinished", Value::Array({Value::Long(0), Value::Long(5)})), 1);
  EXPECT_EQ(Call(L"NotifyWebRecordFailedAsync", Value::Long(0)), 1);
  EXPECT_EQ(Call(L"SetPVRRecordPadding", Value::Str(L"45")), 1);
  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_EQ(media_.CountOf(L"SearchMedia"), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(GetPaddingTime(), 30);
}

// Audio rows, as a started report for video waits for the first frames.
TEST_F(RecordingServices, EveryFamilyOfReportsReachesTheEngineAndReArmsTheTimer) {
  ASSERT_EQ(Add(L"Radio", 0, 3600, 1, L"audio/x-win"), 0);
  ASSERT_EQ(Add(L"Radio 2", 0, 3600, 1, L"audio/x-win"), 0);
  auto rows = Rows("ID, FilePath");
  ASSERT_EQ(rows.size(), 2u);
  const std::wstring first = tev::FromStdUtf8(rows[0][1]);
  const std::wstring second = tev::FromStdUtf8(rows[1][1]);
  listener_.ClearRequests();

  for (const wchar_t* started : {L"NotifyTVRecordStarted", L"NotifyDeviceRecordStarted",
                                 L"NotifyWebRecordStarted", L"NotifyWebRecordStartedAsync"}) {
    EXPECT_EQ(Call(started, Value::Array({Value::Long(1), Value::Long(0), Value::Str(first)})), 0);
  }
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 4, 5000));

  // Ten minutes away, written without re-arming: the finish report re-arms.
  Engine().StartStop().SetRecordingTimer();
  InsertPlanned("Soon", "DVRSTATE_SCHEDULED", 600, 600);
  ASSERT_GT(Engine().StartStop().Timer().RemainingMs(), 1200 * 1000);
  // 5 s is too short, whichever family reports it.
  EXPECT_EQ(Call(L"NotifyDeviceRecordFinished",
                 Value::Array({Value::Long(1), Value::Long(5), Value::Str(first)})),
            0);
  EXPECT_EQ(Column(std::stoi(rows[0][0]), "Status"), "DVRSTATE_ERROR");
  EXPECT_LE(Engine().StartStop().Timer().RemainingMs(), 600 * 1000);
  EXPECT_EQ(Call(L"NotifyWebRecordFailedAsync",
                 Value::Array({Value::Long(1), Value::Long(0), Value::Str(second)})),
            0);
  EXPECT_EQ(Column(std::stoi(rows[1][0]), "Status"), "DVRSTATE_ERROR");
  // A report for a file nobody knows changes nothing and still answers 0.
  EXPECT_EQ(Call(L"NotifyTVRecordFinished",
                 Value::Array({Value::Long(1), Value::Long(3600), Value::Str(L"/no/such.asf")})),
            0);
  EXPECT_EQ(Rows("ID").size(), 3u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 7, 5000));
}

TEST_F(RecordingServices, CancelAndRetryByMediumIdAndACancelFreesTheTuner) {
  AutoVariant out;
  ASSERT_EQ(Call(L"ScheduleRecording", Request(tev::Clock::Now() + 86400, 1800000, L"Later"),
                 &out),
            0);
  const std::wstring mediumId(out.get().bstrVal);
  const int id = std::stoi(Rows("ID")[0][0]);
  // A pass's id is no schedule, even when its local id is the schedule's.
  dbtest::RawDb(dbPath_).Exec(
      "INSERT INTO SeasonPasses (ID, TevMediumId, Priority, ProgramName) VALUES (" +
      std::to_string(id) + ", 'P-pass', 1, 'Later')");
  const auto before = Rows("*");
  media_.ClearRequests();
  listener_.ClearRequests();
  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(L"P-pass")), 103);
  EXPECT_EQ(Call(L"RetrySchedule", Value::Str(L"P-pass")), 103);
  EXPECT_EQ(Rows("*"), before);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(listener_.CountOf(L"NotifyStopRecording"), 0u);

  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(mediumId)), 0);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
  EXPECT_EQ(peertest::Str(listener_.RequestsOf(L"NotifyStopRecording")[0].get(), 1), mediumId);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_SCHEDULED");

  // Retry moves it to now: recorded at once.
  EXPECT_EQ(Call(L"RetrySchedule", Value::Str(mediumId)), 0);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_LE(std::llabs(GetTime3(tev::FromStdUtf8(Column(id, "StartTime"))) - tev::Clock::Now()), 2);
  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(L"no-such-medium")), 0);
  EXPECT_EQ(Call(L"RetrySchedule", Value::Str(L"no-such-retry")), 0);

  // Cancelled while recording, it lets a row waiting for the one tuner record.
  const int waiting = InsertPlanned("Waiting", "DVRSTATE_CONFLICT", 900, 1800);
  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(mediumId)), 0);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(Column(waiting, "Status"), "DVRSTATE_SCHEDULED");
}

// The streamer's own words (after the path of its report, or after the
// stream settings of a refused start) reach the row's failure reason.
TEST_F(RecordingServices, TheStreamersOwnWordsReachTheFailureReason) {
  using enginetest::LastReasonOf;
  const int64_t now = tev::Clock::Now();
  auto row = [&](const std::string& name, const char* status, bool written) {
    const int id = InsertPlanned(name, status, -5, 3600);
    const std::string path = videoDir_ + "/" + name + ".asf";
    if (written) std::ofstream(path) << "partly written";
    return std::make_pair(id, tev::FromStdUtf8(path));
  };
  auto report = [](int32_t seconds, const std::wstring& path, const wchar_t* said) {
    std::vector<Value> in{Value::Long(7), Value::Long(seconds), Value::Str(path)};
    if (said != nullptr) in.push_back(Value::Str(said));
    return Value::Array(in);
  };

  const auto broken = row("Broken", "DVRSTATE_RECORDING", true);
  EXPECT_EQ(Call(L"NotifyTVRecordFinished", report(2, broken.second, L"ch1: Connection refused")),
            0);
  EXPECT_EQ(Column(broken.first, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(LastReasonOf(media_, broken.second),
            L"the stream stopped after 2 s (the streamer said: ch1: Connection refused)");
  const auto quiet = row("Quiet", "DVRSTATE_RECORDING", true);
  EXPECT_EQ(Call(L"NotifyTVRecordFinished", report(3, quiet.second, nullptr)), 0);
  EXPECT_EQ(LastReasonOf(media_, quiet.second), L"the stream stopped after 3 s");

  const auto web = row("Web", "DVRSTATE_RECORDING", false);
  EXPECT_EQ(Call(L"NotifyWebRecordFailedAsync", report(0, web.second, L"HTTP error 404 Not Found")),
            0);
  EXPECT_EQ(Column(web.first, "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(LastReasonOf(media_, web.second),
            L"the streamer reported that the recording failed (the streamer said: HTTP error 404 "
            L"Not Found)");

  streamer_.SetReply(
      L"StartStream", 1111,
      Value::Array({Value::Array({Value::Long(1), Value::Str(L"ch1"), Value::Str(L""),
                                  Value::Long(60), Value(), Value::Pairs({}),
                                  Value::Str(L"no channel ch1 is known here")})}));
  const auto due = row("Due", "DVRSTATE_SCHEDULED", false);
  Engine().StartStop().StartRecordingIfAppropriate(now);
  EXPECT_EQ(Column(due.first, "Status"), "DVRSTATE_COULD_NOT_CONNECT");
  EXPECT_EQ(LastReasonOf(media_, due.second),
            L"the streamer could not connect to the channel (the streamer said: no channel ch1 is "
            L"known here)");
}

TEST_F(RecordingServices, SimultaneousStartReportsAreAnsweredBeforeAnyThumbnail) {
  std::vector<std::wstring> paths;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "Start" + std::to_string(i);
    InsertPlanned(name, "DVRSTATE_RECORDING", 0, 3600);
    paths.push_back(tev::FromStdUtf8(videoDir_ + "/" + name + ".asf"));
  }
  std::vector<std::thread> reporters;
  std::atomic<int> answered{0};
  for (const std::wstring& path : paths) {
    reporters.emplace_back([&, path] {
      if (streamer_.NotifyStarted(path) == 0) ++answered;
    });
  }
  for (std::thread& t : reporters) t.join();
  EXPECT_EQ(answered.load(), 5);
  EXPECT_EQ(thumbnails_.CountOf(L"Extract Image From Video"), 0u);
  // The recorder's head start runs on the engine's clock.
  env_.Shift(10);
  EXPECT_TRUE(thumbnails_.WaitFor(L"Extract Image From Video", 5, 10000));
}

// The medium id of an already planned programme, and the schedules in the
// way, slot by slot.
TEST_F(RecordingServices, MediumIdsAndConflictListsInTheirBusForm) {
  const int64_t start = tev::Clock::Now() / 60 * 60 + 86400;
  auto hour = [](int64_t at, const wchar_t* name) { return Request(WallClock(at), 3600000, name); };
  AutoVariant first;
  ASSERT_EQ(Call(L"ScheduleRecording", hour(start, L"First"), &first), 0);
  const std::wstring firstId = Text(first);

  AutoVariant again;
  EXPECT_EQ(Call(L"ScheduleRecording", hour(start, L"First"), &again), 119);
  EXPECT_EQ(Text(again), firstId);

  AutoVariant clash;
  EXPECT_EQ(Call(L"ScheduleRecording", hour(start + 1800, L"Second"), &clash), 101);
  ExpectEntry(clash.get(), L"First", firstId, start + 1);

  // The query wraps the list in an array. The asked schedule is written
  // straight in, as a tuner count that changed later would have left it.
  const int asked =
      InsertPlanned("Asked", "DVRSTATE_CONFLICT", start + 1800 - tev::Clock::Now(), 3600);
  LibrarySync::AssignTevMediumId(asked, L"M-asked");
  const auto before = Rows("*");
  AutoVariant query;
  EXPECT_EQ(Call(L"GetConflicts", Value::Array({Value::Str(L"M-asked")}), &query), 101);
  ASSERT_EQ(VUtil::GetArrayLength(query.get()), 1);
  ExpectEntry(peertest::Elem(query.get(), 0).get(), L"First", firstId, start + 1);
  EXPECT_EQ(Rows("*"), before);

  AutoVariant none;
  EXPECT_EQ(Call(L"GetConflicts", Value::Array({Value::Str(L"M-none")}), &none), 103);
  EXPECT_EQ(none.get().vt, VT_EMPTY);
  for (const Value& bad : {Value::Str(L"M-asked"), Value::Array({}),
                           Value::Array({Value::Long(asked)})}) {
    AutoVariant refused;
    EXPECT_EQ(Call(L"GetConflicts", bad, &refused), 1);
  }
  EXPECT_EQ(Rows("*"), before);
}

// With the engine started: its start-up fills in the padding, not stored yet.
class SettingsServices : public RecordingServices {
 protected:
  void SetUp() override {
    RecordingServices::SetUp();
    if (HasFatalFailure()) return;
    dbtest::RawDb(dbPath_).Exec("DELETE FROM Config WHERE Key = 'RecordPadding'");
    ASSERT_TRUE(Engine().Initialize());
  }
  void TearDown() override {
    if (pvr_) Engine().Shutdown();
    RecordingServices::TearDown();
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
};

TEST_F(SettingsServices, PaddingFreeSpaceAndConfigReadAndChange) {
  AutoVariant out;
  EXPECT_EQ(Call(L"SetPVRConfig", Value::Str(L"RecordPadding"), &out), 1);  // not an array
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Not an array of variant or string");
  EXPECT_EQ(Call(L"SetPVRConfig", Value::StringArray({L"RecordPadding"}), &out), 1);
  EXPECT_EQ(
      Call(L"SetPVRConfig", Value::Array({Value::Str(L"RecordPadding"), Value::Long(99)}), &out),
      1);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 30);  // filled in at engine start
  EXPECT_EQ(Call(L"SetPVRRecordPadding", Value::Long(45)), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 45);
  EXPECT_EQ(GetPaddingTime(), 45);

  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 200);
  EXPECT_EQ(Call(L"SetPVRDiskFreeSpaceRequired", Value::Long(500)), 0);
  EXPECT_EQ(GetLong(L"GetPVRDiskFreeSpaceRequired"), 500);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 500000);

  // Any letter case of the key re-reads the floor.
  EXPECT_EQ(Call(L"SetPVRConfig", Value::StringArray({L"FreeSpaceRequired", L"300"}), &out), 0);
  EXPECT_EQ(Call(L"SetPVRConfig", Value::StringArray({L"freespacerequired", L"300"}), &out), 0);
  EXPECT_EQ(RecordingSettings::FreeSpaceRequired(), 300000);
  EXPECT_EQ(Call(L"SetPVRConfig", Value::StringArray({L"RecordPadding", L"abc"}), &out), 0);
  EXPECT_EQ(GetLong(L"GetPVRRecordPadding"), 0);

  EXPECT_EQ(Call(L"GetPVRConfig", Value::StringArray({L"Version"}), &out), 0);
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"7");
  EXPECT_EQ(Call(L"GetPVRConfig", Value::StringArray({L"NoSuchKey"}), &out), 103);

  Config::SetString(L"Note", L"it's \"caf\u00e9\" \U0001F600 100%");
  EXPECT_EQ(Call(L"SetPVRConfig",
                 Value::StringArray({L"Note", L"Bob's 'quoted' \\ value \U0001F600"}), &out),
            0);
  EXPECT_EQ(Call(L"GetPVRConfig", Value::StringArray({L"Note"}), &out), 0);
  EXPECT_EQ(std::wstring(out.get().bstrVal), L"Bob's 'quoted' \\ value \U0001F600");
}

TEST_F(SettingsServices, FoldersAreAnsweredAndChangedOnlyByPlainAbsolutePaths) {
  const std::wstring video = GetText(L"GetPVRVideoRecordingDirectory");
  const std::wstring audio = GetText(L"GetPVRAudioRecordingDirectory");
  EXPECT_EQ(video + L"|" + audio, tev::FromStdUtf8(videoDir_ + "|" + audioDir_));
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory",
                 Value::Str(tev::FromStdUtf8(dir_.path() + "/missing"))),
            122);
  fs::path empty = fs::path(dir_.path()) / "empty";
  fs::create_directories(empty);
  fs::path full = fs::path(dir_.path()) / "Bob's TV \xF0\x9F\x93\xBA";
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
    EXPECT_EQ(Call(L"SetPVRConfig", Value::StringArray({kConfigVideoDirectory, text}), &out), 1);
  }
  EXPECT_TRUE(fs::is_directory(empty));
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
  EXPECT_TRUE(fs::is_directory(full / "sub"));
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), video);
  EXPECT_EQ(GetText(L"GetPVRAudioRecordingDirectory"), audio);
  EXPECT_EQ(Config::GetString(kConfigVideoDirectory), video);
  EXPECT_EQ(Config::GetString(kConfigAudioDirectory), audio);

  // The folder itself is still accepted afterwards, and used at once.
  EXPECT_EQ(Call(L"SetPVRVideoRecordingDirectory", Value::Str(fullText)), 0);
  EXPECT_EQ(GetText(L"GetPVRVideoRecordingDirectory"), fullText);
  EXPECT_TRUE(fs::exists(full / "keep.txt"));
  ASSERT_EQ(Call(L"ScheduleRecording", Request(0, 60000, L"After", {Value::Long(1)})), 0);
  const std::wstring path = tev::Utf8ToWide(Rows("FilePath", "Name = 'After'")[0][0]);
  EXPECT_EQ(fs::path(tev::ToStdUtf8(path)).parent_path(), full);
  EXPECT_EQ(peertest::Str(Last(streamer_, L"StartStream").get(), 11), path);
}

// With a finished recording "M1" whose file is on disk.
class FileServices : public RecordingServices {
 protected:
  void SetUp() override {
    RecordingServices::SetUp();
    if (HasFatalFailure()) return;
    enginetest::RowValues done;
    done.status = DVRSTATE_COMPLETE;
    id_ = Row(done);
    LibrarySync::AssignTevMediumId(id_, L"M1");
    std::ofstream(tev::WideToUtf8(Path(id_))) << "recording";
  }

  int id_ = 0;
};

TEST_F(FileServices, FileOfARecordingUntilItIsGone) {
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

  AutoVariant reply;
  ASSERT_EQ(Call(L"GetFileFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")}), &reply), 0);
  EXPECT_EQ(VUtil::GetStringElement(reply.get(), 0), Path(id_));
  AutoVariant info;
  ASSERT_EQ(Call(L"GetFileInfoFromId", Value::Array({Value::Str(L"bob"), Value::Str(L"M1")}), &info),
            0);
  std::wstring name;
  ASSERT_TRUE(VUtil::FindPair(info.get(), L"Name", &name));
  EXPECT_EQ(name, L"Show");
  AutoVariant list;
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
