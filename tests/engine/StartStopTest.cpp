// Start and stop decisions, the timer and disk space, on a real database and real
// (sparse) files with scripted peers on a loopback bus; time moves by shifting the clock.
#include <unistd.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bus/CVelAtl.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/Schedule.h"
#include "platform/Clock.h"
#include "support/FreeSpace.h"
#include "support/PThread.h"
#include "support/StandByWaitableTimer.h"
#include "tests/engine/EngineFixture.h"

namespace {

namespace fs = std::filesystem;
using enginetest::RowValues;
using enginetest::StatesOf;
using enginetest::Value;

const wchar_t kTv[] = L"video/x-tv";
const wchar_t kWeb[] = L"video/x-webwin";
const wchar_t kDevice[] = L"video/x-inputdevice";
constexpr int32_t kKept = UNTIL_MANUALLY_DELETED;
constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 86400;
constexpr uintmax_t kGigabyte = 1000000000;  // 1,000,000 kB as file sizes count

// Channel lookups fail with a chosen bus result, as a peer behind the recorder
// reports a busy tuner (104) or Media Center holding it (117).
class FailingLookups : public CVelAtl {
 public:
  FailingLookups() : CVelAtl(nullptr) {}
  long Request(const std::wstring& addressee, const std::wstring& method, const VARIANT& in,
               VARIANT* out, VELFLAGS flags, VARIANT* retcodes) override {
    const long failure = failure_.load();
    if (method == L"SearchMedia" && failure != 0) return failure;
    return CVelAtl::Request(addressee, method, in, out, flags, retcodes);
  }
  std::atomic<long> failure_{0};
};

class StartStop : public enginetest::EngineFixture {
 protected:
  void Shift(int64_t seconds) { env_.Shift(seconds); }
  int32_t DurationOf(int id) {
    return Engine().StartStop().CalculateAppropriateDuration(Schedule(id), tev::Clock::Now());
  }
  int32_t DurationOf(int32_t duration, const std::wstring& mimetype, const std::wstring& channel,
                     int64_t start, int64_t end) {
    return Engine().StartStop().CalculateAppropriateDuration(duration, mimetype, channel, start,
                                                             end, tev::Clock::Now());
  }
};

TEST_F(StartStop, DueRowsStartWithinThePaddingAndTwoMinutesAhead) {
  const int64_t now = tev::Clock::Now();
  const int soon = Row(Values(L"Soon", now + 100, 600));    // 100 <= 30 + 120
  const int later = Row(Values(L"Later", now + 200, 600));  // not yet
  const int over = Row(Values(L"Over", now - 20, 10));      // its end has passed

  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(soon), "DVRSTATE_RECORDING");
  EXPECT_EQ(Status(later), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(Status(over), "DVRSTATE_SCHEDULED");

  auto starts = streamer_.RequestsOf(L"StartStream");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(peertest::Str(starts[0].get(), 11), Path(soon));
  // Waiting time before the start, the program and the padding after it.
  EXPECT_NEAR(VUtil::GetLongElement(starts[0].get(), 10), 100 + 600 + 30, 1);
  EXPECT_EQ(peertest::Str(starts[0].get(), 12), L"");
  EXPECT_EQ(StatesOf(media_, Path(soon)).back(), L"recording");
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStartRecording", 1, 5000));
  EXPECT_EQ(peertest::Str(Last(listener_, L"NotifyStartRecording").get(), 0), L"Soon");

  // "Later" is due too: "Soon", inside its window, is stopped and "Later" waits.
  Shift(100);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(StoppedPaths(), std::vector<std::wstring>{Path(soon)});
  EXPECT_EQ(Status(later), "DVRSTATE_SCHEDULED");
  EXPECT_EQ(Status(soon), "DVRSTATE_RECORDING");  // until the streamer reports
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);

  ASSERT_TRUE(Schedule::Update(soon, L"Status", std::wstring(DVRSTATE_COMPLETE)));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(later), "DVRSTATE_RECORDING");
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 2u);
  EXPECT_EQ(peertest::Str(Last(streamer_, L"StartStream").get(), 11), Path(later));
}

TEST_F(StartStop, TheDurationEndsInTimeForTheNextProgramOnTheSameTuner) {
  const int64_t now = tev::Clock::Now();
  const int64_t start = now + 1000;
  const int64_t end = start + 3600;
  EXPECT_EQ(DurationOf(0, kTv, L"ch1", start, end), 0);  // open-ended
  EXPECT_NEAR(DurationOf(3600, kTv, L"ch1", start, end), 1000 + 3600 + 30, 1);
  // A start that has passed waits for nothing.
  EXPECT_NEAR(DurationOf(3600, kTv, L"ch1", now - 50, now + 3550), 3600 + 30, 1);

  // One tuner and a program starting 20 s after the end: no padding after.
  const int first = Row(Values(L"First", start, 3600));
  const int next = Row(Values(L"Next", end + 20, 1800));
  EXPECT_NEAR(DurationOf(first), 1000 + 3600, 1);
  // Web streams need no tuner and keep their padding.
  EXPECT_NEAR(DurationOf(3600, kWeb, L"ch1", start, end), 1000 + 3600 + 30, 1);

  // Further than the padding away, the next program does not need it.
  ASSERT_TRUE(Schedule::Update(next, L"StartTime", FormatTime3(end + 31)));
  EXPECT_NEAR(DurationOf(first), 1000 + 3600 + 30, 1);
  ASSERT_TRUE(Schedule::Update(next, L"StartTime", FormatTime3(end - 30)));
  EXPECT_NEAR(DurationOf(first), 1000 + 3600, 1);

  // A second tuner counts once the cached count is older than 30 s.
  tv_.SetTuners({{L"Tuner 1", kTv}, {L"Tuner 2", kTv}});
  EXPECT_NEAR(DurationOf(first), 1000 + 3600, 1);
  Shift(31);
  EXPECT_NEAR(DurationOf(first), 1000 - 31 + 3600 + 30, 1);

  // A capture device: only the next program on the same device counts.
  Row({L"Camera next", kDevice, L"ch1", L"cam1", end + 20, 600, DVRSTATE_SCHEDULED, kKept, L""});
  EXPECT_NEAR(DurationOf(600, kDevice, L"cam1", start, end), 1000 - 31 + 600, 1);
  EXPECT_NEAR(DurationOf(600, kDevice, L"cam2", start, end), 1000 - 31 + 600 + 30, 1);
}

TEST_F(StartStop, OverdueRecordingsStopOnePerWakeUpEarliestEndFirst) {
  SetChannel(L"tv.web", L"http://example.invalid/live");
  const int64_t now = tev::Clock::Now();
  const int a = Row(Values(L"A", now + 10, 900, kWeb));
  const int b = Row(Values(L"B", now + 10, 300, kWeb));
  const int c = Row(Values(L"C", now + 10, 600, kWeb));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 3u);
  for (int id : {a, b, c}) ASSERT_EQ(Status(id), "DVRSTATE_RECORDING");

  // B ended, but the padding after it has not passed yet.
  Shift(10 + 300 + 20);
  Engine().StartStop().StopCurrentRecordingsIfOver(tev::Clock::Now());
  EXPECT_TRUE(StoppedPaths().empty());

  Shift(2000);  // all three are over
  Engine().StartStop().StopCurrentRecordingsIfOver(tev::Clock::Now());
  EXPECT_EQ(StoppedPaths(), std::vector<std::wstring>{Path(b)});
  // Recording until the streamer reports, but the stream is not stopped twice.
  Engine().StartStop().StopCurrentRecordingsIfOver(tev::Clock::Now());
  EXPECT_EQ(StoppedPaths(), std::vector<std::wstring>{Path(b)});
  EXPECT_EQ(Status(b), "DVRSTATE_RECORDING");

  ASSERT_TRUE(Schedule::Update(b, L"Status", std::wstring(DVRSTATE_COMPLETE)));
  Engine().StartStop().StopCurrentRecordingsIfOver(tev::Clock::Now());
  ASSERT_TRUE(Schedule::Update(c, L"Status", std::wstring(DVRSTATE_COMPLETE)));
  Engine().StartStop().StopCurrentRecordingsIfOver(tev::Clock::Now());
  EXPECT_EQ(StoppedPaths(), (std::vector<std::wstring>{Path(b), Path(c), Path(a)}));
  EXPECT_EQ(Status(a), "DVRSTATE_RECORDING");
}

TEST_F(StartStop, AFailedStartLeavesTheReasonInTheRow) {
  const int64_t now = tev::Clock::Now();
  streamer_.SetReply(L"StartStream", DVR::kStreamerConnectFailed);
  const int unreachable = Row(Values(L"Unreachable", now + 10, 600));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(unreachable), "DVRSTATE_COULD_NOT_CONNECT");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"StartRecordingIfAppropriate: could not start recording "
                                       L"Unreachable (#" + std::to_wstring(unreachable) + L")"));
  // Shown as it stood when the streamer was asked, then failed at once.
  const std::vector<std::wstring> shown = StatesOf(media_, Path(unreachable));
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(std::vector<std::wstring>(shown.end() - 2, shown.end()),
            (std::vector<std::wstring>{L"recording", L"invalid"}));

  streamer_.SetReply(L"StartStream", 5);
  const int refused = Row(Values(L"Refused", now + 10, 600));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(refused), "DVRSTATE_ERROR");
  streamer_.ResetReply(L"StartStream");
  EXPECT_FALSE(log_->HasPart(LOG_DEBUG, L"Done Notifying start recording"));

  FailingLookups lookups;
  lookups.SetRequestTimeout(10000);
  ASSERT_EQ(lookups.Connect(bus_.host(), L"ZoVIZ-lookups"), 0);
  {
    DVR recorder(lookups.Peers());
    Schedules engine(recorder);
    lookups.failure_ = 104;
    const int busy = Row(Values(L"Busy", now + 10, 600, kWeb));
    engine.StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
    lookups.failure_ = 117;
    const int mce = Row(Values(L"Media Center", now + 10, 600, kWeb));
    engine.StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
    EXPECT_EQ(Status(busy), "DVRSTATE_TUNER_BUSY");
    EXPECT_EQ(Status(mce), "DVRSTATE_MCE_RUNNING");
  }
  lookups.Disconnect();
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 2u);
}

TEST_F(StartStop, TheStreamersFilePathIsStored) {
  const std::wstring renamed = tev::FromStdUtf8(videoDir_) + L"/chosen by streamer.asf";
  int32_t answer = 0;
  streamer_.SetHandler(L"StartStream", [&](const VARIANT& in, VARIANT* out) {
    Value::Array({Value::Array({Value::Long(tev::peers::ReadInteger(in, 1)), Value::Str(L"ch1"),
                                Value::Str(renamed), Value::Long(600), Value(),
                                Value::Pairs({{L"destination", Value::Str(renamed)}})})})
        .CopyTo(out);
    return answer;
  });
  const int64_t now = tev::Clock::Now();
  const int id = Row(Values(L"Renamed", now + 10, 600));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Path(id), renamed);
  EXPECT_EQ(Status(id), "DVRSTATE_RECORDING");
  // Published before the new name was stored: still under the old one.
  EXPECT_TRUE(StatesOf(media_, renamed).empty());

  // A refused start that names another file keeps both the file and why.
  ASSERT_TRUE(Schedule::Update(id, L"Status", std::wstring(DVRSTATE_COMPLETE)));
  answer = DVR::kStreamerConnectFailed;
  const int second = Row(Values(L"Second", now + 10, 600));
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Path(second), renamed);
  EXPECT_EQ(Status(second), "DVRSTATE_COULD_NOT_CONNECT");
}

TEST_F(StartStop, HowManyRecordingsEachKindMayRun) {
  Schedules& engine = Engine();
  EXPECT_EQ(engine.StartStop().MaxSimultaneousRecordings(kTv), 1);  // the TV service's one tuner
  const int64_t now = tev::Clock::Now();
  // A capture device records one program at a time, counted per device.
  Row({L"Cam running", kDevice, L"ch1", L"cam1", now - 60, 600, DVRSTATE_RECORDING, kKept, L""});
  const int other =
      Row({L"Cam other", kDevice, L"cam2", L"BBC One", now, 600, DVRSTATE_SCHEDULED, kKept, L""});
  EXPECT_FALSE(engine.StartStop().ChannelBusy(Schedule(other), tev::Clock::Now()));
  const int same =
      Row({L"Cam same", kDevice, L"cam1", L"BBC One", now, 600, DVRSTATE_SCHEDULED, kKept, L""});
  EXPECT_TRUE(engine.StartStop().ChannelBusy(Schedule(same), tev::Clock::Now()));

  // With no tuner reported at all, any running recording makes TV busy.
  const int tvNext = Row(Values(L"TV next", now, 600));
  EXPECT_FALSE(engine.StartStop().ChannelBusy(Schedule(tvNext), tev::Clock::Now()));
  tv_.SetTuners({});
  Shift(31);
  EXPECT_EQ(engine.StartStop().MaxSimultaneousRecordings(kTv), -1);
  Row(Values(L"TV running", now - 60, 600, kTv, DVRSTATE_RECORDING));
  EXPECT_TRUE(engine.StartStop().ChannelBusy(Schedule(tvNext), tev::Clock::Now()));
  EXPECT_EQ(tv_.CountOf(L"GetTVInfo"), 2u);  // once per 30 s
}

class Timer : public enginetest::EngineFixture {
 protected:
  void Insert(const std::string& name, const std::string& status, int64_t start, int64_t end) {
    EngineFixture::Insert(Planned(name, status, start, static_cast<int32_t>(end - start)));
  }
  // Joined even when an assertion fails.
  struct TimerThread {
    explicit TimerThread(Schedules& engine)
        : engine(engine),
          thread(&engine.StartStop(), &RecordingStartStop::TimerThreadProc, nullptr) {}
    ~TimerThread() { Join(); }
    int Join() {
      if (result != -2) return result;
      engine.StartStop().Timer().cancel();
      engine.Shutdown();  // clears the running flag
      return result = thread.join(nullptr);
    }
    Schedules& engine;
    PThread thread;
    int result = -2;
  };
  void SetPadding(const std::wstring& value) {
    Config::SetString(kConfigRecordPadding, value);
    EXPECT_TRUE(OpenDatabase());  // a database opened anew reads the padding again
  }
  // In seconds of the product clock (wake-ups count from a whole second).
  double DueAt() {
    Engine().StartStop().SetRecordingTimer();
    return (tev::Clock::NowMs() + timer_().RemainingMs()) / 1000.0;
  }
  StandByWaitableTimer& timer_() { return Engine().StartStop().Timer(); }
};

TEST_F(Timer, TheNextWakeUpFollowsStartsEndsAndPadding) {
  const int64_t now = tev::Clock::Now();
  // Nothing to do: four hours, and the machine may sleep through them.
  EXPECT_NEAR(DueAt(), tev::Clock::NowMs() / 1000.0 + 14400, 0.1);
  EXPECT_FALSE(timer_().ArmedForResume());

  Insert("Later", "DVRSTATE_SCHEDULED", now + 600, now + 2400);
  EXPECT_NEAR(DueAt(), now + 600 - 30, 0.05);  // padding 30 before the start
  EXPECT_TRUE(timer_().ArmedForResume());
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"Waiting for: 5"));

  SetPadding(L"abc");  // no leading digits: no padding
  EXPECT_NEAR(DueAt(), now + 600, 0.05);

  // A recording that ends as the next one starts: the stop wins the tie.
  SetPadding(L"0");
  Insert("Running", "DVRSTATE_RECORDING", now - 600, now + 600);
  log_->Clear();
  EXPECT_NEAR(DueAt(), now + 600, 0.05);
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"SetStoppingTimerInLock: Stopping Running for "));
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"SetRecordingTimerInLock: Scheduling Later for "));

  // A start passed less than two minutes ago is still due: one second.
  Insert("JustMissed", "DVRSTATE_SCHEDULED", now - 60, now + 1800);
  EXPECT_LE(DueAt() - tev::Clock::NowMs() / 1000.0, 1.0);
}

TEST_F(Timer, PastRowsAreSettledOrRemovedAndAPastMomentIsArmedOnlyOnce) {
  const int64_t now = tev::Clock::Now();
  // A recording that ended long ago is not waited for ...
  Insert("Over", "DVRSTATE_RECORDING", now - 7200, now - 3600);
  EXPECT_GT(DueAt() - now, 14000);
  // ... but a scheduled one is ("A OR B AND EndTime > cut-off": AND binds first),
  // settled as missed after one wake-up; old skipped and conflicting rows go.
  Insert("Down", "DVRSTATE_SCHEDULED", now - 7200, now - 3600);
  Insert("Skipped", "DVRSTATE_SKIP", now - 7200, now - 3600);
  Insert("Conflict", "DVRSTATE_CONFLICT", now - 7200, now - 60);
  Insert("Pending", "DVRSTATE_CONFLICT", now - 60, now + 3600);
  Insert("Skipped later", "DVRSTATE_SKIP", now + 600, now + 1200);
  EXPECT_LE(DueAt() - tev::Clock::NowMs() / 1000.0, 1.0);
  EXPECT_EQ(Rows("Status", "Name = 'Down'")[0][0], "DVRSTATE_MISSED");
  EXPECT_EQ(Rows("Name"), (Table{{"Over"}, {"Down"}, {"Pending"}, {"Skipped later"}}));
  EXPECT_GT(DueAt() - now, 14000);
  EXPECT_FALSE(timer_().ArmedForResume());

  // Ended 40 s ago (padding 30): one wake-up for its end, then the next moment.
  Insert("JustEnded", "DVRSTATE_SCHEDULED", now - 1800, now - 40);
  Insert("Later", "DVRSTATE_SCHEDULED", now + 3600, now + 5400);
  EXPECT_LE(DueAt() - tev::Clock::NowMs() / 1000.0, 1.0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(DueAt(), now + 3600 - 30, 1.0);
  EXPECT_EQ(Rows("Status", "Name = 'JustEnded'")[0][0], "DVRSTATE_SCHEDULED");
  env_.Shift(30);
  DueAt();
  EXPECT_EQ(Rows("Status", "Name = 'JustEnded'")[0][0], "DVRSTATE_MISSED");
}

// An unreadable stream table still records; a missing streamer fails the start;
// either way the timer thread lives on and starts the next recording.
TEST_F(Timer, AStreamerThatFailsLeavesAnErrorAndTheTimerGoesOn) {
  tv_.SetTuners({{L"Tuner 1", L"video/x-tv"}, {L"Tuner 2", L"video/x-tv"},
                 {L"Tuner 3", L"video/x-tv"}});
  Engine().StartStop().ResetTunerCountCache();
  const int64_t now = tev::Clock::Now();
  Insert("Garbage", "DVRSTATE_SCHEDULED", now + 600, now + 1200);
  Insert("Nobody", "DVRSTATE_SCHEDULED", now + 1800, now + 2400);
  Insert("Fine", "DVRSTATE_SCHEDULED", now + 3000, now + 3600);
  streamer_.SetHandler(L"StartStream", [](const VARIANT&, VARIANT* out) {
    enginetest::Value::Str(L"not a stream table").CopyTo(out);
    return 0;
  });
  TimerThread thread(Engine());
  auto statusOf = [this](const std::string& name) {
    auto rows = Rows("Status", "Name = '" + name + "'");
    return rows.empty() ? std::string() : rows[0][0];
  };
  auto waitFor = [&](const std::string& name, const std::string& status) {
    for (int i = 0; i < 1000 && statusOf(name) != status; ++i) usleep(10 * 1000);
    return statusOf(name);
  };
  auto shiftWhenArmed = [&](int64_t to) {
    for (int i = 0; i < 500 && !timer_().IsArmed(); ++i) usleep(10 * 1000);
    env_.SetNow(to);
  };

  shiftWhenArmed(now + 600 - 30);
  EXPECT_EQ(waitFor("Garbage", "DVRSTATE_RECORDING"), "DVRSTATE_RECORDING");
  // The row is marked before the streamer is asked: wait for its answer.
  const std::wstring unreadable = L"StartGeneralRecording cannot parse stream specs";
  for (int i = 0; i < 1000 && !log_->Has(LOG_WARN, unreadable); ++i) usleep(10 * 1000);
  EXPECT_TRUE(log_->Has(LOG_WARN, unreadable));

  streamer_.Leave();  // no streamer on the bus
  shiftWhenArmed(now + 1800 - 30);
  EXPECT_EQ(waitFor("Nobody", "DVRSTATE_ERROR"), "DVRSTATE_ERROR") << tev::ToStdUtf8(log_->Dump());

  streamer_.ResetReply(L"StartStream");
  ASSERT_EQ(streamer_.Join(bus_.host()), 0);
  shiftWhenArmed(now + 3000 - 30);
  EXPECT_EQ(waitFor("Fine", "DVRSTATE_RECORDING"), "DVRSTATE_RECORDING");
  EXPECT_TRUE(streamer_.WaitFor(L"StartStream", 2, 10000));  // garbage answered, then fine
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 2u);
  EXPECT_EQ(thread.Join(), 0);  // a cancel ends the thread
}

class DiskSpace : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    env_.SetFreeSpace([this](const std::wstring& directory) { return Read(directory); });
    wvideo_ = tev::FromStdUtf8(videoDir_);
  }
  void TearDown() override {
    env_.SetFreeSpace(nullptr);
    EngineFixture::TearDown();
  }

  // Free kB: the next scripted reading (the last repeats), else capacity - files.
  int64_t Read(const std::wstring& directory) {
    std::lock_guard<std::mutex> lock(mu_);
    readDirectories_.push_back(directory);
    if (!script_.empty()) {
      const int64_t value = script_.front();
      if (script_.size() > 1) script_.pop_front();
      return value;
    }
    return capacity_ - UsedKilobytes();
  }
  void Script(std::deque<int64_t> readings) {
    std::lock_guard<std::mutex> lock(mu_);
    script_ = std::move(readings);
  }
  void VolumeWithFree(int64_t free) {
    std::lock_guard<std::mutex> lock(mu_);
    script_.clear();
    capacity_ = free + UsedKilobytes();
  }
  size_t Reads() {
    std::lock_guard<std::mutex> lock(mu_);
    return readDirectories_.size();
  }
  int64_t UsedKilobytes() {
    uintmax_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(videoDir_)) bytes += entry.file_size();
    return static_cast<int64_t>(bytes / 1024);
  }

  // Published as "M-<name>"; a sparse file of `bytes`, none when 0.
  int Recording(const std::wstring& name, int64_t age, int32_t keepUntil,
                uintmax_t bytes = kGigabyte, const std::string& folder = "",
                const std::wstring& status = DVRSTATE_COMPLETE) {
    const std::string dir = folder.empty() ? videoDir_ : folder;
    fs::create_directories(dir);
    const std::string path = dir + "/" + tev::ToStdUtf8(name) + ".asf";
    if (bytes > 0) {
      std::ofstream(path).put('x');
      fs::resize_file(path, bytes);
    }
    return Published(L"M-" + name, {name, kTv, L"ch1", L"BBC One", tev::Clock::Now() - age, 1800,
                                    status, keepUntil, tev::FromStdUtf8(path)});
  }
  bool Exists(int id) { return !Rows("ID", "ID = " + std::to_string(id)).empty(); }
  bool FileOf(const std::wstring& name) { return fs::exists(videoDir_ + "/" + tev::ToStdUtf8(name) + ".asf"); }

  std::vector<std::wstring> RetypedMedia() {
    std::vector<std::wstring> ids;
    for (const enginetest::Value& request : media_.RequestsOf(L"SetMediaAttributeList")) {
      const enginetest::Value list = peertest::Elem(request.get(), 1);
      for (long i = 0; i < VUtil::GetArrayLength(list.get()); ++i) {
        const enginetest::Value item = peertest::Elem(list.get(), i);
        std::wstring type;
        VUtil::FindPair(peertest::Elem(item.get(), 1).get(), L"mediaType", &type);
        EXPECT_EQ(type, L"deleted.video.file.recorded.tv");
        ids.push_back(peertest::Str(item.get(), 0));
      }
    }
    return ids;
  }
  bool Clear(int64_t seconds, const std::wstring& mimetype = kTv) {
    return Engine().StartStop().ClearDiskSpace(wvideo_, mimetype, seconds, L"high",
                                               tev::Clock::Now());
  }

  std::wstring wvideo_;
  std::mutex mu_;
  std::deque<int64_t> script_;                // guarded by mu_
  int64_t capacity_ = 0;                      // guarded by mu_
  std::vector<std::wstring> readDirectories_;  // guarded by mu_
};

TEST_F(DiskSpace, ARecordingNeedsItsSizePlusTheFloor) {
  // An hour of television is 3,600,000 kB, web video 100 kB a second, anything
  // not video 32, each plus the default floor of 200,000.
  for (const auto& c : std::vector<std::pair<const wchar_t*, int64_t>>{
           {kTv, 3800000}, {kWeb, 560000}, {L"audio/x-win", 315200}}) {
    Script({c.second});
    EXPECT_TRUE(Clear(kHour, c.first)) << c.second;
    Script({c.second - 1});
    EXPECT_FALSE(Clear(kHour, c.first)) << c.second;
  }

  Engine().Folders().SetFreeSpaceRequired(500);
  Script({3800000});
  EXPECT_FALSE(Clear(kHour));
  Script({4100000});
  EXPECT_TRUE(Clear(kHour));

  // A volume that cannot be read counts as roomy.
  Script({-1});
  EXPECT_TRUE(Clear(kHour));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"CInformationImpl::GetFreeDiskSpaceImpl failed for directory " +
                                       wvideo_));
  for (const std::wstring& directory : readDirectories_) EXPECT_EQ(directory, wvideo_);
}

TEST_F(DiskSpace, KeepUntilDecidesWhatMayGo) {
  const int young = Recording(L"Two days young", 47 * kHour, AT_LEAST_2_DAYS);
  const int old = Recording(L"Two days old", 49 * kHour, AT_LEAST_2_DAYS);
  const int manual = Recording(L"Manual", 100 * kDay, UNTIL_MANUALLY_DELETED);
  const int elsewhere = Recording(L"Elsewhere", 200 * kDay, UNTIL_SPACE_NEEDED, kGigabyte,
                                  dir_.path() + "/Other");
  const int running = Recording(L"Running", 300 * kDay, UNTIL_SPACE_NEEDED, kGigabyte, "",
                                DVRSTATE_RECORDING);
  const int64_t before = 3000000;

  // One file is enough for an hour: the one past its two days.
  VolumeWithFree(before);
  EXPECT_TRUE(Clear(kHour));
  EXPECT_FALSE(Exists(old));
  EXPECT_FALSE(FileOf(L"Two days old"));
  EXPECT_EQ(RetypedMedia(), std::vector<std::wstring>{L"M-Two days old"});
  for (int id : {young, manual, elsewhere, running}) EXPECT_TRUE(Exists(id)) << id;

  // Nothing is deleted when all that may go would not be enough.
  EXPECT_FALSE(Clear(10 * kHour));
  // Two hours on, the younger one may go too, but alone it is not enough.
  env_.Shift(2 * kHour);
  EXPECT_FALSE(Clear(10 * kHour));
  EXPECT_TRUE(Exists(young));
  EXPECT_TRUE(FileOf(L"Two days young"));
  EXPECT_TRUE(Clear(kHour + 600));
  EXPECT_FALSE(Exists(young));
  EXPECT_FALSE(FileOf(L"Two days young"));
  for (int id : {manual, elsewhere, running}) EXPECT_TRUE(Exists(id)) << id;
  EXPECT_TRUE(FileOf(L"Manual"));
  EXPECT_TRUE(fs::exists(dir_.path() + "/Other/Elsewhere.asf"));
  EXPECT_EQ(RetypedMedia(), (std::vector<std::wstring>{L"M-Two days old", L"M-Two days young"}));
}

TEST_F(DiskSpace, OldestFirstUntilTheVolumeHasRoom) {
  Recording(L"Day", 1 * kDay, UNTIL_SPACE_NEEDED);
  Recording(L"Ten", 10 * kDay, UNTIL_SPACE_NEEDED);
  Recording(L"Five", 5 * kDay, AT_LEAST_3_DAYS);
  Recording(L"Hour", kHour, UNTIL_SPACE_NEEDED);
  // Its file is gone already: it frees nothing and its row stays.
  Recording(L"Gone", 20 * kDay, UNTIL_SPACE_NEEDED, 0);

  // 2,000,000 free: two of the 1 GB files make an hour fit.
  VolumeWithFree(2000000);
  EXPECT_TRUE(Clear(kHour));
  EXPECT_TRUE(
      log_->Has(LOG_ERROR, L"DeleteOldRecordings: Could not delete " + wvideo_ + L"/Gone.asf"));
  EXPECT_EQ(RetypedMedia(), (std::vector<std::wstring>{L"M-Ten", L"M-Five"}));
  EXPECT_EQ(Rows("Name"), (Table{{"Day"}, {"Hour"}, {"Gone"}}));
  EXPECT_TRUE(FileOf(L"Day"));
  EXPECT_TRUE(FileOf(L"Hour"));
  // Read once before and once after each attempt.
  EXPECT_EQ(Reads(), 4u);
}

TEST_F(DiskSpace, TheVolumeDecidesWhenToStop) {
  const int first = Recording(L"First", 9 * kDay, UNTIL_SPACE_NEEDED);
  const int second = Recording(L"Second", 8 * kDay, UNTIL_SPACE_NEEDED);
  // By the sizes two must go, but after the first the volume has room.
  Script({2000000, 3900000});
  EXPECT_TRUE(Clear(kHour));
  EXPECT_FALSE(Exists(first));
  EXPECT_TRUE(Exists(second));
  EXPECT_TRUE(FileOf(L"Second"));

  // Deleting did not bring the room the sizes promised: the volume decides.
  const int third = Recording(L"Third", 7 * kDay, UNTIL_SPACE_NEEDED);
  Script({2900000, 2900000});
  EXPECT_FALSE(Clear(kHour));
  EXPECT_FALSE(Exists(second));
  EXPECT_FALSE(Exists(third));
}

TEST_F(DiskSpace, ARowWithoutRoomBecomesDiskFull) {
  Script({100});
  const int64_t now = tev::Clock::Now();
  RowValues values = Values(L"Full", now + 10, 600);
  const int full = Row(values);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(full), "DVRSTATE_DISK_FULL");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(StatesOf(media_, Path(full)).back(), L"diskfull");
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);

  // An open-ended start needs no room.
  values.name = L"Open";
  values.duration = 0;
  const int open = Row(values);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(open), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
}

}  // namespace

TEST_F(StartStop, BackToBackOnTwoTunersTheEarlierGivesWay) {
  tv_.SetTuners({{L"Tuner 1", kTv}, {L"Tuner 2", kTv}});
  Shift(31);  // past the cached tuner count
  const int64_t now = tev::Clock::Now();
  const int64_t start = now + 1000;
  const int dramaId =
      Row({L"Drama", kTv, L"ch2", L"BBC One", start, 3600, DVRSTATE_SCHEDULED, kKept, L""});
  const int first = Row(Values(L"Episode 1", start, 1800));
  const int second = Row(Values(L"Episode 2", start + 1800, 1800));

  // Both tuners are taken when the second starts: the first loses its padding.
  Schedules& engine = Engine();
  EXPECT_NEAR(DurationOf(first), 1000 + 1800, 1);
  // Without the drama a tuner is free for the padding.
  ASSERT_TRUE(Schedule::Update(dramaId, L"Status", std::wstring(DVRSTATE_SKIP)));
  EXPECT_NEAR(DurationOf(first), 1000 + 1800 + 30, 1);
  ASSERT_TRUE(Schedule::Update(dramaId, L"Status", std::wstring(DVRSTATE_SCHEDULED)));

  // The second takes the first episode's tuner, never the drama's mid-way.
  Shift(start - tev::Clock::Now());
  engine.StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  ASSERT_EQ(Status(dramaId), "DVRSTATE_RECORDING");
  ASSERT_EQ(Status(first), "DVRSTATE_RECORDING");
  Shift(1800 - 20);
  engine.StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(StoppedPaths(), std::vector<std::wstring>{Path(first)});
  EXPECT_EQ(Status(second), "DVRSTATE_SCHEDULED");
}
