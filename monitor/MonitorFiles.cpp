#include "monitor/MonitorFiles.h"

#include <sys/stat.h>

#include "platform/Clock.h"
#include "platform/WideText.h"

namespace monitorfiles {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  return folder + L"/" + name;
}

int64_t ModificationTime(const std::wstring& folder, const std::wstring& name) {
  struct stat info;
  if (::stat(tev::ToStdUtf8(JoinPath(folder, name)).c_str(), &info) == 0) {
    return static_cast<int64_t>(info.st_mtime);
  }
  return tev::Clock::Now();
}

}  // namespace monitorfiles
