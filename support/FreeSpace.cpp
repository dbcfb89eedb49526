#include "support/FreeSpace.h"

#include "platform/Env.h"
#include "support/Log.h"

namespace tev {

int64_t GetFreeDiskSpace(const std::wstring& directory) {
  const int64_t kilobytes = directory.empty() ? -1 : Env::Current().FreeSpaceKb(directory);
  if (kilobytes < 0) {
    LogError(L"CInformationImpl::GetFreeDiskSpaceImpl failed for directory %ls", directory.c_str());
    return -1;
  }
  return kilobytes;
}

}  // namespace tev
