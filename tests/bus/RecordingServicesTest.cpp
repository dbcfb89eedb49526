// The recording services as a client reaches them over a loopback bus: the
// module's endpoint with its engine, a real database, scripted peers.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

class RecordingServices : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    UseModuleEndpoint();
    ASSERT_EQ(client_.Connect(bus_.host(), L"RecordingClient"), 0);
  }
  void TearDown() override {
    client_.Disconnect();
    EngineFixture::TearDown();
  }

  // The service's return code; the bus itself must not fail.
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

  Client client_;
};

TEST_F(RecordingServices, ScheduleRecordingReadsTwelveToFifteenElements) {
  const int64_t tomorrow = tev::Clock::Now() / 60 * 60 + 86400;
  AutoVariant out;
  ASSERT_EQ(Call(L"ScheduleRecording", Request(tomorrow, 1999, L"Twelve"), &out), 0);
  auto rows = Rows("Duration, Status, StartTime, TevMediumId, KeepUntil, Name");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "1");  // 1999 ms
  EXPECT_EQ(rows[0][1], "DVRSTATE_SCHEDULED");
  EXPECT_EQ(rows[0][2], DbTime(tomorrow + 1));
  EXPECT_EQ(rows[0][4], "1");
  ASSERT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(tev::ToStdUtf8(out.get().bstrVal), rows[0][3]);
  EXPECT_EQ(peertest::Str(Last(media_, L"SearchMedia").get(), 1), L"tevMediumId=\"ch1\"");

  // Fifteen elements: record now, no address, flag empty.
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

TEST_F(RecordingServices, AChannelTheLibraryDoesNotKnowStoresNothing) {
  media_.SetReply(L"SearchMedia", 0, Value::Array({Value::Array({Value::Long(0)})}));
  media_.SetReply(L"GetMediumFromId", 7);
  const long result = Call(L"ScheduleRecording", Request(tev::Clock::Now() + 3600, 60000, L"X"));
  EXPECT_NE(result, 0);
  EXPECT_EQ(media_.CountOf(L"GetMediumFromId"), 1u);
  EXPECT_TRUE(Rows("ID").empty());
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

TEST_F(RecordingServices, EveryFamilyOfReportsReachesTheEngine) {
  // Audio rows: a started report for video waits for the first frames.
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

  // Finished after 5 s: too short, whichever family reports it.
  EXPECT_EQ(Call(L"NotifyDeviceRecordFinished",
                 Value::Array({Value::Long(1), Value::Long(5), Value::Str(first)})),
            0);
  EXPECT_EQ(Column(std::stoi(rows[0][0]), "Status"), "DVRSTATE_ERROR");
  EXPECT_EQ(Call(L"NotifyWebRecordFailedAsync",
                 Value::Array({Value::Long(1), Value::Long(0), Value::Str(second)})),
            0);
  EXPECT_EQ(Column(std::stoi(rows[1][0]), "Status"), "DVRSTATE_ERROR");
  // A report for a file nobody knows changes nothing and still answers 0.
  EXPECT_EQ(Call(L"NotifyTVRecordFinished",
                 Value::Array({Value::Long(1), Value::Long(3600), Value::Str(L"/no/such.asf")})),
            0);
  EXPECT_EQ(Rows("ID").size(), 2u);
  EXPECT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 7, 5000));
}

TEST_F(RecordingServices, CancelAndRetryByMediumId) {
  AutoVariant out;
  ASSERT_EQ(Call(L"ScheduleRecording", Request(tev::Clock::Now() + 86400, 1800000, L"Later"),
                 &out),
            0);
  const std::wstring mediumId(out.get().bstrVal);
  const int id = std::stoi(Rows("ID")[0][0]);
  listener_.ClearRequests();

  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(mediumId)), 0);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
  EXPECT_EQ(peertest::Str(listener_.RequestsOf(L"NotifyStopRecording")[0].get(), 1), mediumId);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_SCHEDULED");  // the library hears of it, the row stays

  // Retry moves it to now, and the start decision records it at once.
  EXPECT_EQ(Call(L"RetrySchedule", Value::Str(mediumId)), 0);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_LE(std::llabs(GetTime3(tev::FromStdUtf8(Column(id, "StartTime"))) - tev::Clock::Now()),
            2);
  // Unknown medium ids are nothing to cancel.
  EXPECT_EQ(Call(L"CancelScheduledRecording", Value::Str(L"no-such-medium")), 0);
}

}  // namespace
