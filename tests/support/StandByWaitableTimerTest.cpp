// The standby-waking timer. Waits are bounded so that a broken timer fails
// the test instead of hanging it.
#include "support/StandByWaitableTimer.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/common/FakeEnv.h"
#include "tests/db/DbTestSupport.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class StandByTimer : public ::testing::Test {
 protected:
  tev::test::FakeEnv env_;
  void TearDown() override {
    timer_.cancel();  // releases a waiter a failed test left behind
    if (waiter_.valid()) waiter_.wait_for(seconds(5));
  }
  void StartWaiter() {
    waiter_ = std::async(std::launch::async, [this] { return timer_.waitForAlarm(); });
  }
  bool Answer(seconds limit = seconds(10)) {
    if (waiter_.wait_for(limit) != std::future_status::ready) {
      ADD_FAILURE() << "waitForAlarm did not return";
      return false;
    }
    return waiter_.get();
  }
  bool StillWaiting(milliseconds pause) {
    return waiter_.wait_for(pause) == std::future_status::timeout;
  }

  StandByWaitableTimer timer_;
  std::future<bool> waiter_;
};

TEST_F(StandByTimer, DueTimesCountFromNowAndReplaceEachOtherEvenForAWaiter) {
  timer_.setTimer(0, false);  // 0 means two seconds
  EXPECT_TRUE(timer_.IsArmed());
  EXPECT_GT(timer_.RemainingMs(), 1500);
  EXPECT_LE(timer_.RemainingMs(), 2000);
  EXPECT_FALSE(timer_.ArmedForResume());

  timer_.setTimer(3600 * 1000, true);
  EXPECT_GT(timer_.RemainingMs(), 3599 * 1000);
  EXPECT_TRUE(timer_.ArmedForResume());

  const auto before = std::chrono::steady_clock::now();
  timer_.setTimer(300, true);  // replaces the hour
  StartWaiter();
  EXPECT_TRUE(Answer());
  EXPECT_GE(std::chrono::steady_clock::now() - before, milliseconds(290));  // not early
  EXPECT_FALSE(timer_.IsArmed());

  timer_.setTimer(-5, false);  // negative: due at once
  StartWaiter();
  EXPECT_TRUE(Answer());

  // An earlier due time wakes a sleeping waiter.
  timer_.setTimer(3600 * 1000, true);
  StartWaiter();
  EXPECT_TRUE(StillWaiting(milliseconds(200)));
  timer_.setTimer(50, true);
  EXPECT_TRUE(Answer(seconds(3)));
}

TEST_F(StandByTimer, WaitsForArmingThenFollowsTheShiftedClock) {
  StartWaiter();  // nothing armed: the waiter sleeps on the condition
  EXPECT_TRUE(StillWaiting(milliseconds(200)));
  timer_.setTimer(4 * 3600 * 1000, false);
  EXPECT_TRUE(StillWaiting(milliseconds(200)));
  env_.Shift(4 * 3600 - 1);  // one second of the four hours left
  EXPECT_TRUE(Answer(seconds(5)));
}

TEST_F(StandByTimer, CancelEndsThePresentWaitAndEveryLaterOne) {
  timer_.setTimer(3600 * 1000, true);
  StartWaiter();
  EXPECT_TRUE(StillWaiting(milliseconds(100)));
  timer_.cancel();
  EXPECT_FALSE(Answer(seconds(3)));

  timer_.setTimer(10, true);
  EXPECT_FALSE(timer_.waitForAlarm());  // stays cancelled, armed or not

  timer_.Reopen();
  StartWaiter();  // an unarmed waiter is woken by cancel too
  EXPECT_TRUE(StillWaiting(milliseconds(100)));
  timer_.cancel();
  EXPECT_FALSE(Answer(seconds(3)));
}

// Takes CAP_WAKE_ALARM from this process, as a unit without it would.
bool DropWakeAlarm() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << (CAP_WAKE_ALARM % 32);
  data[CAP_WAKE_ALARM / 32].effective &= ~bit;
  data[CAP_WAKE_ALARM / 32].permitted &= ~bit;
  data[CAP_WAKE_ALARM / 32].inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(StandByTimer, WithoutTheWakeAlarmCapabilityItWarnsOnceAndStillKeepsTime) {
  // In a child, so that this process keeps what it may do.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!DropWakeAlarm()) _exit(2);
    dbtest::LogCapture log;
    StandByWaitableTimer timer;  // opens its descriptors without the capability
    timer.setTimer(3600 * 1000, true);
    timer.setTimer(1800 * 1000, true);
    int warnings = 0;
    for (const auto& line : log->Lines()) {
      if (line.level == LOG_WARN && line.text.find(L"without CAP_WAKE_ALARM") != std::wstring::npos) {
        ++warnings;
      }
    }
    const bool keepsTime = timer.IsArmed() && timer.RemainingMs() > 1799 * 1000;
    _exit(warnings == 1 && keepsTime ? 0 : warnings == 0 ? 3 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  // 2: the capability could not be dropped; 3: no warning; 4: more than one
  // or the due time was lost.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
