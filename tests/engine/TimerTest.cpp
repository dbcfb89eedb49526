// The next wake-up the engine computes from the table (padding, ties, the
// two queries' precedence, nothing to do) and the timer thread acting on it
// when the shifted clock reaches the due time.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "platform/Clock.h"
#include "platform/StandByWaitableTimer.h"
#include "support/PThread.h"
#include "tests/engine/EngineFixture.h"

namespace {

class Timer : public enginetest::EngineFixture {
 protected:
  void Insert(const std::string& name, const std::string& status, int64_t start, int64_t end) {
    dbtest::RawDb db(dbPath_);
    db.Exec("INSERT INTO Schedules (User, Name, ChannelName, Channel, ChannelMimetype, Status, "
            "StartTime, EndTime, Duration, FilePath, Type, KeepUntil) VALUES ('bob', '" + name +
            "', 'BBC One', 'ch1', 'video/x-tv', '" + status + "', " + DbTime(start) + ", " +
            DbTime(end) + ", " + std::to_string(end - start) + ", '" + videoDir_ + "/" + name +
            ".asf', 'Automatic', 2)");
  }
  void SetPadding(const std::wstring& value) {
    Config::SetString(kConfigRecordPadding, value);
    RecordingSettings::ResetForTest();
  }
  // Seconds until the armed wake-up, rounded.
  int64_t Armed() {
    Engine().SetRecordingTimer();
    return (timer_.RemainingMsForTest() + 500) / 1000;
  }
  StandByWaitableTimer& timer_ = StandByWaitableTimer::Instance();
};

TEST_F(Timer, TheNextWakeUpFollowsStartsEndsAndPadding) {
  const int64_t now = tev::Clock::Now();
  EXPECT_EQ(Armed(), 14400);  // nothing to do: four hours, the machine may sleep
  EXPECT_FALSE(timer_.ArmedForResumeForTest());
  EXPECT_TRUE(log_->Has(LOG_DEBUG, L"SetRecordingTimerInLock: Wake up in 4 hours"));

  Insert("Later", "DVRSTATE_SCHEDULED", now + 600, now + 2400);
  EXPECT_EQ(Armed(), 600 - 30);  // padding 30 before the start
  EXPECT_TRUE(timer_.ArmedForResumeForTest());
  EXPECT_TRUE(log_->Has(LOG_DEBUG, L"Sleep for 0 hours 9 minutes 30 seconds"));
  EXPECT_TRUE(log_->Has(LOG_INFO, L"Waiting for: 570"));

  SetPadding(L"abc");  // no leading digits: no padding
  EXPECT_EQ(Armed(), 600);

  // A recording that ends as the next one starts: the stop wins the tie.
  SetPadding(L"0");
  Insert("Running", "DVRSTATE_RECORDING", now - 600, now + 600);
  log_->Clear();
  EXPECT_EQ(Armed(), 600);
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"SetStoppingTimerInLock: Stopping Running for "));
  EXPECT_TRUE(log_->HasPart(LOG_INFO, L"SetRecordingTimerInLock: Scheduling Later for "));

  // A start passed less than two minutes ago is still due: one second.
  Insert("JustMissed", "DVRSTATE_SCHEDULED", now - 60, now + 1800);
  log_->Clear();
  EXPECT_EQ(Armed(), 1);
  EXPECT_TRUE(log_->Has(LOG_DEBUG, L"SetRecordingTimerInLock: wait was negative"));
}

TEST_F(Timer, TheStopQueryTakesEveryScheduledRowWhateverItsEnd) {
  const int64_t now = tev::Clock::Now();
  // A recording that ended long ago is not waited for ...
  Insert("Over", "DVRSTATE_RECORDING", now - 7200, now - 3600);
  EXPECT_EQ(Armed(), 14400);
  // ... but a scheduled row is, though it ended long ago too: AND binds
  // before OR in "Status = A OR Status = B AND EndTime > cut-off".
  Insert("Stale", "DVRSTATE_SCHEDULED", now - 7200, now - 3600);
  EXPECT_EQ(Armed(), 1);
}

TEST_F(Timer, OldSkippedAndConflictingRowsGoAtEachComputation) {
  const int64_t now = tev::Clock::Now();
  Insert("Skipped", "DVRSTATE_SKIP", now - 7200, now - 3600);
  Insert("Conflict", "DVRSTATE_CONFLICT", now - 7200, now - 60);
  Insert("Pending", "DVRSTATE_CONFLICT", now - 60, now + 3600);
  Armed();
  auto rows = Rows("Name");
  ASSERT_EQ(rows.size(), 1u) << tev::ToStdUtf8(log_->Dump());
  EXPECT_EQ(rows[0][0], "Pending");
}

TEST_F(Timer, TheThreadWakesAtTheShiftedDueTimeAndStopsOnCancel) {
  const int64_t now = tev::Clock::Now();
  Insert("Due", "DVRSTATE_SCHEDULED", now + 600, now + 2400);
  PThread thread(&Engine(), &Schedules::TimerThreadProc, nullptr);
  struct Joiner {  // ends the thread even when an assertion fails
    Schedules* engine;
    PThread* thread;
    int result = -1;
    void Join() {
      if (thread == nullptr) return;
      StandByWaitableTimer::Instance().cancel();
      engine->Shutdown();  // clears the running flag
      result = thread->join(nullptr);
      thread = nullptr;
    }
    ~Joiner() { Join(); }
  } joiner{&Engine(), &thread};
  // Shift only once the thread has armed the timer for the start.
  for (int i = 0; i < 500 && !log_->HasPart(LOG_INFO, L"Waiting for: 5"); ++i) usleep(10 * 1000);
  tev::Clock::Shift(600 - 30);
  ASSERT_TRUE(streamer_.WaitFor(L"StartStream", 1, 10000)) << tev::ToStdUtf8(log_->Dump());
  EXPECT_TRUE(log_->HasPart(LOG_DEBUG, L"TimerThreadProc: Waking up at "));

  joiner.Join();
  EXPECT_EQ(joiner.result, 0);
  EXPECT_TRUE(log_->Has(LOG_DEBUG, L"TimerThread Finished"));
}

}  // namespace
