// The test side of the environment seam (platform/Env.h): wraps the real
// environment, installs itself for the life of the object and lets a test
// move the clock, answer for the volume, or make file calls fail.
#ifndef TEV_TESTS_COMMON_FAKEENV_H_
#define TEV_TESTS_COMMON_FAKEENV_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Env.h"

namespace tev {
namespace test {

class FakeEnv : public EnvWrapper {
 public:
  // Wraps the real environment and makes this one current.
  FakeEnv();
  // Makes the previous environment current again.
  ~FakeEnv() override;
  FakeEnv(const FakeEnv&) = delete;
  FakeEnv& operator=(const FakeEnv&) = delete;

  // --- Clock ---
  // Moves "now" by `seconds` (cumulative) and wakes timed waits.
  void Shift(int64_t seconds);
  // Moves "now" to `seconds` since 1970 (keeps the sub-second part).
  void SetNow(int64_t seconds) { Shift(seconds - Now()); }
  int64_t ShiftSeconds() const { return shiftMs_.load() / 1000; }
  // SleepMs and WaitForEvent move the clock by the time asked instead of
  // blocking (an event already set still ends the wait at once). Without
  // it they block until the time asked has passed on this clock (a Shift
  // ends them early) or in real time, whichever comes first.
  void SetInstantSleep(bool instant) { instantSleep_ = instant; }

  // --- Volume ---
  // A full volume: FreeSpaceKb answers 0 (an empty file can still be
  // created, as on a real full volume).
  void SetNoSpace(bool full) { noSpace_ = full; }
  // A read-only volume: CreateFile, RemoveFile, RenameFile and
  // CreateDirectories fail.
  void SetNotWritable(bool readOnly) { notWritable_ = readOnly; }
  // `reader` answers FreeSpaceKb (its -1 is a failed reading); an empty
  // function asks the real volume again.
  void SetFreeSpace(std::function<int64_t(const std::wstring&)> reader);
  // `reader` answers DeviceId (a disk swapped or unmounted under a
  // folder); an empty function asks the real file system again.
  void SetDeviceId(std::function<int64_t(const std::wstring&)> reader);

  int64_t NowMs() override;
  int64_t FreeSpaceKb(const std::wstring& directory) override;
  int64_t DeviceId(const std::wstring& path) override;
  bool CreateFile(const std::wstring& path) override;
  bool RemoveFile(const std::wstring& path) override;
  bool RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool CreateDirectories(const std::wstring& path) override;
  void SleepMs(int64_t ms) override;
  bool WaitForEvent(PEvent& event, int64_t ms) override;

 private:
  Env* previous_ = nullptr;
  std::atomic<int64_t> shiftMs_{0};
  std::atomic<bool> instantSleep_{false};
  std::atomic<bool> noSpace_{false};
  std::atomic<bool> notWritable_{false};
  std::mutex readerMutex_;
  std::function<int64_t(const std::wstring&)> reader_;  // guarded by readerMutex_
  std::function<int64_t(const std::wstring&)> device_;  // guarded by readerMutex_
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_FAKEENV_H_
