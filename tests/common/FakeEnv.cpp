#include "tests/common/FakeEnv.h"

#include <algorithm>
#include <utility>

#include "support/PEvent.h"

namespace tev {
namespace test {

namespace {
// How often a timed wait looks at the clock again.
constexpr int64_t kWaitSliceMs = 20;

// A copy of `reader`, taken under `mutex`, to call outside it.
template <typename Reader>
Reader CopyOf(std::mutex& mutex, const Reader& reader) {
  std::lock_guard<std::mutex> lock(mutex);
  return reader;
}
}  // namespace

FakeEnv::FakeEnv() : EnvWrapper(&Env::Real()) { previous_ = Env::Install(this); }

FakeEnv::~FakeEnv() { Env::Install(previous_); }

void FakeEnv::Shift(int64_t seconds) {
  shiftMs_ += seconds * 1000;
  NotifyClockMoved();
}

void FakeEnv::SetFreeSpace(std::function<int64_t(const std::wstring&)> reader) {
  std::lock_guard<std::mutex> lock(readerMutex_);
  reader_ = std::move(reader);
}

void FakeEnv::SetDeviceId(std::function<int64_t(const std::wstring&)> reader) {
  std::lock_guard<std::mutex> lock(readerMutex_);
  device_ = std::move(reader);
}

int64_t FakeEnv::DeviceId(const std::wstring& path) {
  const auto reader = CopyOf(readerMutex_, device_);
  return reader ? reader(path) : target()->DeviceId(path);
}

int64_t FakeEnv::NowMs() { return target()->NowMs() + shiftMs_.load(); }

int64_t FakeEnv::FreeSpaceKb(const std::wstring& directory) {
  if (noSpace_) return 0;
  const auto reader = CopyOf(readerMutex_, reader_);
  return reader ? reader(directory) : target()->FreeSpaceKb(directory);
}

bool FakeEnv::CreateFile(const std::wstring& path) {
  return !notWritable_ && target()->CreateFile(path);
}

bool FakeEnv::RemoveFile(const std::wstring& path) {
  return !notWritable_ && target()->RemoveFile(path);
}

bool FakeEnv::RenameFile(const std::wstring& from, const std::wstring& to) {
  return !notWritable_ && target()->RenameFile(from, to);
}

bool FakeEnv::CreateDirectories(const std::wstring& path) {
  return !notWritable_ && target()->CreateDirectories(path);
}

void FakeEnv::SleepMs(int64_t ms) {
  if (instantSleep_) {
    shiftMs_ += ms;
    NotifyClockMoved();
    return;
  }
  PEvent never;
  WaitForEvent(never, ms);
}

bool FakeEnv::WaitForEvent(PEvent& event, int64_t ms) {
  if (instantSleep_) {
    if (event.IsSet()) return true;
    shiftMs_ += ms;
    NotifyClockMoved();
    return event.IsSet();
  }
  // A Shift cuts the wait short; real time ends it at the latest.
  const int64_t due = NowMs() + ms;
  const int64_t realDue = target()->NowMs() + ms;
  for (;;) {
    const int64_t left = std::min(due - NowMs(), realDue - target()->NowMs());
    if (left <= 0) return event.IsSet();
    if (target()->WaitForEvent(event, std::min<int64_t>(left, kWaitSliceMs))) return true;
  }
}

}  // namespace test
}  // namespace tev
