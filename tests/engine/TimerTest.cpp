// The next wake-up the engine computes from the table (padding, ties, the
// two queries' precedence, nothing to do) and the timer thread acting on it
// when the shifted clock reaches the due time.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "platform/Clock.h"
#include "support/PThread.h"
#include "support/StandByWaitableTimer.h"
#include "tests/engine/EngineFixture.h"

namespace {

class Timer : public enginetest::EngineFixture {
 protected:
  void Insert(const std::string& name, const std::string& status, int64_t start, int64_t end) {
    EngineFixture::Insert(Planned(name, status, start, static_cast<int32_t>(end - start)));
  }
  // The engine's timer thread, ended (even when an assertion fails) by
  // Join() or at the end of the test.
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
  // Re-arms and answers when the timer is due, in seconds of the product
  // clock (wake-ups count from the whole second they were computed at).
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
  // ... but a scheduled row is, though it ended long ago too: AND binds
  // before OR in "Status = A OR Status = B AND EndTime > cut-off". Ended
  // while the module was down, it is settled as missed, and after the one
  // wake-up its past end was worth the timer sleeps its four hours. Old
  // skipped and conflicting rows go at each computation.
  Insert("Down", "DVRSTATE_SCHEDULED", now - 7200, now - 3600);
  Insert("Skipped", "DVRSTATE_SKIP", now - 7200, now - 3600);
  Insert("Conflict", "DVRSTATE_CONFLICT", now - 7200, now - 60);
  Insert("Pending", "DVRSTATE_CONFLICT", now - 60, now + 3600);
  Insert("Skipped later", "DVRSTATE_SKIP", now + 600, now + 1200);
  EXPECT_LE(DueAt() - tev::Clock::NowMs() / 1000.0, 1.0);
  EXPECT_EQ(Rows("Status", "Name = 'Down'")[0][0], "DVRSTATE_MISSED");
  EXPECT_EQ(Rows("Name"), (std::vector<std::vector<std::string>>{
                              {"Over"}, {"Down"}, {"Pending"}, {"Skipped later"}}));
  EXPECT_GT(DueAt() - now, 14000);
  EXPECT_FALSE(timer_().ArmedForResume());

  // Ended 40 s ago (padding 30): not missed yet, one wake-up for its end,
  // then the next real moment however often the timer is computed.
  Insert("JustEnded", "DVRSTATE_SCHEDULED", now - 1800, now - 40);
  Insert("Later", "DVRSTATE_SCHEDULED", now + 3600, now + 5400);
  EXPECT_LE(DueAt() - tev::Clock::NowMs() / 1000.0, 1.0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(DueAt(), now + 3600 - 30, 1.0);
  EXPECT_EQ(Rows("Status", "Name = 'JustEnded'")[0][0], "DVRSTATE_SCHEDULED");
  // A minute after its end it is settled too.
  env_.Shift(30);
  DueAt();
  EXPECT_EQ(Rows("Status", "Name = 'JustEnded'")[0][0], "DVRSTATE_MISSED");
}

// A streamer that accepts with an unreadable stream table still records (to
// the file it was given); one that is not there fails the start. Either way
// the timer thread, woken by the shifted clock, lives on and starts the next
// recording.
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

}  // namespace
