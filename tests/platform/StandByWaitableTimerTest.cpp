// The standby-waking timer: arming, replacing the due time, waiting while
// nothing is armed, cancelling for good, and due times that follow the
// product's clock when a test shifts it. Waits are bounded so that a broken
// timer fails the test instead of hanging it.
#include "platform/StandByWaitableTimer.h"

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/common/FakeEnv.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class StandByTimer : public ::testing::Test {
 protected:
  tev::test::FakeEnv env_;
  void SetUp() override {
    timer_.ResetForTest();
  }
  void TearDown() override {
    timer_.cancel();  // releases a waiter a failed test left behind
    if (waiter_.valid()) waiter_.wait_for(seconds(5));
    timer_.ResetForTest();
  }
  void StartWaiter() {
    waiter_ = std::async(std::launch::async, [this] { return timer_.waitForAlarm(); });
  }
  // The waiter's answer, or a failure when it is still blocked after `limit`.
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

  StandByWaitableTimer& timer_ = StandByWaitableTimer::Instance();
  std::future<bool> waiter_;
};

TEST_F(StandByTimer, DueTimesCountFromNowAndReplaceEachOther) {
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
}

TEST_F(StandByTimer, AnEarlierDueTimeWakesASleepingWaiter) {
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

  timer_.ResetForTest();
  StartWaiter();  // an unarmed waiter is woken by cancel too
  EXPECT_TRUE(StillWaiting(milliseconds(100)));
  timer_.cancel();
  EXPECT_FALSE(Answer(seconds(3)));
}

}  // namespace
