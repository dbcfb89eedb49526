#include "platform/FreeSpace.h"

#include <sys/statvfs.h>

#include <mutex>
#include <utility>

#include "support/Log.h"
#include "support/NoDestructor.h"
#include "support/WideText.h"

namespace tev {

namespace {

std::mutex& ReaderMutex() {
  static tev::NoDestructor<std::mutex> mutex;
  return *mutex;
}
// Guarded by ReaderMutex(); empty: the volume is asked.
std::function<int64_t(const std::wstring&)>& Reader() {
  static tev::NoDestructor<std::function<int64_t(const std::wstring&)>> reader;
  return *reader;
}

int64_t ReadVolume(const std::wstring& directory) {
  struct statvfs info;
  if (directory.empty() || statvfs(ToStdUtf8(directory).c_str(), &info) != 0) return -1;
  // f_bavail: what a non-root writer (the recorder) can still use.
  const unsigned long long bytes =
      static_cast<unsigned long long>(info.f_bavail) * static_cast<unsigned long long>(info.f_frsize);
  return static_cast<int64_t>(bytes / 1024);
}

}  // namespace

int64_t GetFreeDiskSpace(const std::wstring& directory) {
  std::function<int64_t(const std::wstring&)> reader;
  {
    std::lock_guard<std::mutex> lock(ReaderMutex());
    reader = Reader();
  }
  int64_t kilobytes = reader ? reader(directory) : ReadVolume(directory);
  if (kilobytes < 0) {
    LogError(L"CInformationImpl::GetFreeDiskSpaceImpl failed for directory %ls", directory.c_str());
    return -1;
  }
  return kilobytes;
}

void SetFreeSpaceReaderForTest(std::function<int64_t(const std::wstring&)> reader) {
  std::lock_guard<std::mutex> lock(ReaderMutex());
  Reader() = std::move(reader);
}

}  // namespace tev
