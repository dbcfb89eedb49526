#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/PCondMutex.h"
#include "support/PEvent.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"
#include "support/PThread.h"

namespace {

// Whether another thread could take `mutex` right now.
bool FreeForOtherThreads(PMutex& mutex) {
  struct Probe {
    PMutex* mutex;
    bool taken = false;
    int Run(void*) {
      taken = mutex->trylock();
      if (taken) mutex->unlock();
      return 0;
    }
  } probe{&mutex};
  PThread thread(&probe, &Probe::Run);
  thread.join();
  return probe.taken;
}

int Result(void* value) { return static_cast<int>(reinterpret_cast<intptr_t>(value)); }

}  // namespace

TEST(PEvent, DeadlineArithmetic) {
  struct Case {
    int64_t nowMs;
    unsigned int waitMs;
    time_t seconds;
    long nanoseconds;
  } cases[] = {
      {1000700, 1500, 1002, 200000000},  // 700 ms past the second + 1.5 s -> 2 s + 200 ms later
      {1000000, 0, 1000, 0},
      {1000999, 1, 1001, 0},  // nanoseconds reach exactly 10^9 and carry
      {1000500, 499, 1000, 999000000},
      {1000001, 4294967295u, 1000 + 4294967, 296000000},
  };
  for (const Case& c : cases) {
    struct timespec deadline = PEventDeadline(c.nowMs, c.waitMs);
    EXPECT_EQ(deadline.tv_sec, c.seconds) << c.nowMs << " + " << c.waitMs;
    EXPECT_EQ(deadline.tv_nsec, c.nanoseconds) << c.nowMs << " + " << c.waitMs;
  }
}

TEST(PEvent, SetResetAndWaitAndATimeoutReportedAs10060) {
  PEvent initiallySet(true);
  EXPECT_TRUE(initiallySet.IsSet() && initiallySet.Wait(10000));

  PEvent event;
  EXPECT_FALSE(event.IsSet() || event.Wait(0) || event.Wait(30));
  event.Set();
  EXPECT_TRUE(event.IsSet() && event.Wait(10000));
  EXPECT_TRUE(event.Wait(0));  // stays set: manual reset
  event.Reset();
  EXPECT_FALSE(event.IsSet() || event.Wait(0));

  PCondMutex cond;
  struct timespec past = {1, 0};
  PMutexLock lock(cond);
  EXPECT_EQ(cond.timedwait(past), 10060);
}

TEST(PMutex, RecursiveOnlyWhenAsked) {
  PMutex recursive(true);
  recursive.lock();
  EXPECT_TRUE(recursive.trylock());  // the holder may take it again
  EXPECT_FALSE(FreeForOtherThreads(recursive));
  recursive.unlock();
  EXPECT_FALSE(FreeForOtherThreads(recursive));  // still held once
  recursive.unlock();
  EXPECT_TRUE(FreeForOtherThreads(recursive));

  PMutex plain(false);
  plain.lock();
  EXPECT_FALSE(plain.trylock());  // not even for the holder
  EXPECT_FALSE(FreeForOtherThreads(plain));
  plain.unlock();
  EXPECT_TRUE(FreeForOtherThreads(plain));
}

// The engine's lock is marked so: code that cannot name it still learns
// that its thread holds it, and leaves work until the last release.
TEST(PMutex, ALockForbiddingWaitsIsSeenAndDefersWorkToItsLastRelease) {
  PMutex engine(true);
  engine.ForbidWaitingWhileHeld();
  PMutex other(true);
  int ran = 0;
  PMutex::AfterNoWaitLocksReleased([&] { ++ran; });
  EXPECT_EQ(ran, 1);  // nothing held: at once
  {
    PMutexLock unmarked(other);
    EXPECT_FALSE(PMutex::CallingThreadHoldsNoWaitLock());
  }
  {
    PMutexLock outer(engine);
    {
      PMutexLock inner(engine);
      PMutex::AfterNoWaitLocksReleased([&] { ++ran; });
    }
    EXPECT_TRUE(PMutex::CallingThreadHoldsNoWaitLock());
    EXPECT_EQ(ran, 1);  // still held once
    bool seenElsewhere = true;
    std::thread([&] { seenElsewhere = PMutex::CallingThreadHoldsNoWaitLock(); }).join();
    EXPECT_FALSE(seenElsewhere);
  }
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(PMutex::CallingThreadHoldsNoWaitLock());
}

// Counts live instances, so a test sees which copies a PThread made.
class CountingDelegate : public PThreadDelegateGeneric {
 public:
  static std::atomic<int> live;
  CountingDelegate() { ++live; }
  CountingDelegate(const CountingDelegate&) : PThreadDelegateGeneric() { ++live; }
  ~CountingDelegate() override { --live; }
  int run(void* argument) override {
    if (argument != nullptr) static_cast<PEvent*>(argument)->Wait(600000);
    return 42;
  }
  PThreadDelegateGeneric* clone() const override { return new CountingDelegate(*this); }
};
std::atomic<int> CountingDelegate::live{0};

TEST(PThread, NewThreadClonesDelegateBeforeConstructorReturnsAndSurvivesAThrow) {
  PEvent release;
  {
    CountingDelegate prototype;
    PThread thread(nullptr, prototype, &release);
    // The prototype, the owned copy and the running thread's own clone.
    EXPECT_EQ(CountingDelegate::live.load(), 3);
    release.Set();
    void* result = nullptr;
    EXPECT_EQ(thread.join(&result), 0);
    EXPECT_EQ(Result(result), 42);
    EXPECT_EQ(CountingDelegate::live.load(), 2);  // the clone went with the thread
    EXPECT_EQ(thread.join(), EINVAL);             // joining twice is refused
  }
  EXPECT_EQ(CountingDelegate::live.load(), 0);

  // A body that throws ends its thread with -1 instead of the process. (The
  // member form runs the probe of PMutex.RecursiveOnlyWhenAsked, the function
  // form CBBLogTest.ManyThreadsLogWholeLines.)
  void* result = nullptr;
  auto thrower = [](void*) -> int { throw std::runtime_error("bad"); };
  PThread throwing(+thrower);
  EXPECT_EQ(throwing.join(&result), 0);
  EXPECT_EQ(Result(result), -1);
}

TEST(PThread, FailingCreateThrowsAndLeavesNoDelegate) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  // A stack larger than the address space cannot be mapped.
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, size_t{1} << 50), 0);
  {
    CountingDelegate prototype;
    EXPECT_THROW({ PThread thread(&attributes, prototype, nullptr); }, std::exception);
    EXPECT_EQ(CountingDelegate::live.load(), 1);  // only the prototype
  }
  struct Target {
    int Run(void*) { return 0; }
  } target;
  EXPECT_THROW({ PThread thread(&attributes, &target, &Target::Run, nullptr); }, std::exception);
  pthread_attr_destroy(&attributes);
}
