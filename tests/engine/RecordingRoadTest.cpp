// The whole road of a recording through the running engine: a client's
// request, the timer, the streamer's start and finish reports, the final
// row, the programme details inside a real ASF file and what the media
// library was told at each step. Time moves by shifting the clock.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/Schedule.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;
namespace fs = std::filesystem;

class RecordingRoad : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    UseModuleEndpoint();
    PVRVel::SetLive(pvr_.get());
    env_.SetInstantSleep(true);  // the thumbnail delay passes at once
    // The streamer writes a short real ASF file wherever it is asked to.
    sample_ = dir_.path() + "/sample.asf";
    haveFfmpeg_ = std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                               "testsrc=duration=2:size=64x48:rate=5 -c:v wmv2 -f asf '" +
                               sample_ + "'").c_str()) == 0;
    streamer_.SetHandler(L"StartStream", [this](const VARIANT& in, VARIANT* out) {
      const int32_t id = tev::peers::ReadInteger(in, 1);
      const std::wstring path = VUtil::GetStringElement(in, 11);
      if (haveFfmpeg_) fs::copy_file(sample_, tev::ToStdUtf8(path));
      Value::Array({Value::Array({Value::Long(id), Value::Str(L"ch1"), Value::Str(path),
                                  Value::Long(VUtil::GetLongElement(in, 10)), Value(),
                                  Value::Pairs({{L"destination", Value::Str(path)}})})})
          .CopyTo(out);
      return 0;
    });
    streamer_.SetRequestTimeout(30000);
  }
  void TearDown() override {
    if (pvr_) pvr_->GetSchedules().Shutdown();
    PVRVel::SetLive(nullptr);
    EngineFixture::TearDown();
  }

  // The pvrStates the library was sent for `name` (titles carry the start
  // after the name), repeats folded.
  std::vector<std::wstring> PublishedStates(const std::wstring& name) {
    std::vector<std::wstring> states;
    for (const Value& in : media_.RequestsOf(L"AddMedium")) {
      Value list = peertest::Elem(in.get(), 1);
      std::wstring title, state;
      if (VUtil::FindPair(list.get(), L"title", &title) && title.compare(0, name.size(), name) == 0 &&
          VUtil::FindPair(list.get(), L"pvrState", &state)) {
        if (states.empty() || states.back() != state) states.push_back(state);
      }
    }
    return states;
  }

  std::string sample_;
  bool haveFfmpeg_ = false;
};

TEST_F(RecordingRoad, FromRequestToADescribedFile) {
  ASSERT_TRUE(Engine().Initialize());
  const int64_t start = tev::Clock::Now() / 60 * 60 + 600;
  ASSERT_EQ(Add(L"The Road", start, 1800), 0);
  const int id = std::stoi(Rows("ID")[0][0]);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_SCHEDULED");

  // The timer wakes half a minute (the padding) before the start.
  env_.SetNow(start - 30);
  ASSERT_TRUE(streamer_.WaitFor(L"StartStream", 1, 15000)) << tev::ToStdUtf8(log_->Dump());
  Value request = Last(streamer_, L"StartStream");
  const std::wstring path = peertest::Str(request.get(), 11);
  EXPECT_NEAR(VUtil::GetLongElement(request.get(), 10), 30 + 1800 + 30, 2);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");
  EXPECT_EQ(tev::FromStdUtf8(Column(id, "FilePath")), path);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStartRecording", 1, 5000));

  EXPECT_EQ(streamer_.NotifyStarted(path), 0);

  // At the end plus the padding the stream is stopped; the streamer reports.
  env_.SetNow(start + 1800 + 30);
  ASSERT_TRUE(streamer_.WaitFor(L"StopStream", 1, 15000));
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_RECORDING");  // until the report
  EXPECT_EQ(streamer_.NotifyFinished(path, 1855), 0);
  EXPECT_EQ(Column(id, "Status"), "DVRSTATE_COMPLETE");
  EXPECT_EQ(Column(id, "Duration"), "1855");

  EXPECT_EQ(PublishedStates(L"The Road"),
            (std::vector<std::wstring>{L"schedule", L"recording", L"complete"}));
  EXPECT_GE(thumbnails_.Requests().size(), 1u);
  if (!haveFfmpeg_) GTEST_SKIP() << "ffmpeg missing: no file to describe";
  Schedule fromFile;
  ASSERT_TRUE(fromFile.PopulateFromFile(Engine().Metadata(), path, L"", L"", 0, L"video/x-tv"));
  EXPECT_EQ(fromFile.m_category, L"Drama");
  EXPECT_EQ(fromFile.m_description, L"A story");
  EXPECT_EQ(fromFile.m_subtitle, L"Part 1");
  EXPECT_EQ(fromFile.m_channelName, L"BBC One");
  EXPECT_EQ(fromFile.m_channel, L"ch1");
  EXPECT_GE(fromFile.m_duration, 1);
}

TEST_F(RecordingRoad, ARestartInTheMiddleRecordsTheRestIntoANewFile) {
  const int64_t now = tev::Clock::Now();
  dbtest::RawDb db(dbPath_);
  const std::string oldPath = videoDir_ + "/Old_BBC One_interrupted Tev.asf";
  std::ofstream(oldPath) << "partial";
  db.Exec("INSERT INTO Schedules (User, Name, ChannelName, Channel, ChannelMimetype, Status, "
          "StartTime, EndTime, Duration, FilePath, Type, KeepUntil, Quality, Tuner) VALUES "
          "('bob', 'Interrupted', 'BBC One', 'ch1', 'video/x-tv', 'DVRSTATE_RECORDING', " +
          DbTime(now - 1200) + ", " + DbTime(now + 2400) + ", 3600, '" + oldPath +
          "', 'Automatic', 2, 'high', 't1')");
  ASSERT_TRUE(Engine().Initialize());

  auto rows = Rows("Name, Status, FilePath, Duration");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], "DVRSTATE_COMPLETE_PARTIAL");
  EXPECT_EQ(rows[0][2], oldPath);
  EXPECT_EQ(rows[1][0], "Interrupted");
  EXPECT_EQ(rows[1][1], "DVRSTATE_RECORDING");
  EXPECT_NE(rows[1][2], oldPath);
  EXPECT_NEAR(std::stoi(rows[1][3]), 2400 + 30, 2);
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(tev::ToStdUtf8(peertest::Str(Last(streamer_, L"StartStream").get(), 11)), rows[1][2]);
  EXPECT_TRUE(fs::exists(oldPath));  // what was recorded before the crash stays
}

}  // namespace
