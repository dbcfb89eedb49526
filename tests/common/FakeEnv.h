// The real environment (platform/Env.h), current for the object's life, with
// a clock the test moves and a volume that answers as the test says.
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
  FakeEnv();
  ~FakeEnv() override;

  // Moves "now" by `seconds` (cumulative) and wakes timed waits.
  void Shift(int64_t seconds);
  // Moves "now" to `seconds` since 1970 (keeps the sub-second part).
  void SetNow(int64_t seconds) { Shift(seconds - Now()); }
  int64_t ShiftSeconds() const { return shiftMs_.load() / 1000; }
  // Sleeps and timed waits move the clock instead of blocking. Without it they
  // end at the time asked on this clock or in real time, whichever is first.
  void SetInstantSleep(bool instant) { instantSleep_ = instant; }

  // FreeSpaceKb answers 0 (an empty file can still be created, as on a real
  // full volume).
  void SetNoSpace(bool full) { noSpace_ = full; }
  // A read-only volume: creating, removing and renaming fail.
  void SetNotWritable(bool readOnly) { notWritable_ = readOnly; }
  // `reader` answers FreeSpaceKb (-1: a failed reading); empty: the real volume.
  void SetFreeSpace(std::function<int64_t(const std::wstring&)> reader);
  // `reader` answers DeviceId (a disk swapped under a folder); empty: the real one.
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
