// The writable-directory probe used by intake, by the start of a recording
// and by the settings that change the recording folders.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "db/RecordingSettings.h"
#include "db/WFormat.h"
#include "platform/Env.h"
#include "platform/PathCheck.h"
#include "platform/WideText.h"

namespace {

// The user the module runs as, by name when it has one.
std::wstring UserName() {
  const uid_t uid = ::geteuid();
  const struct passwd* entry = ::getpwuid(uid);
  return entry != nullptr && entry->pw_name != nullptr ? tev::FromStdUtf8(entry->pw_name)
                                                       : std::to_wstring(uid);
}

}  // namespace

int RecordingSettings::CheckDirectoryWritable(const std::wstring& directory, std::wstring* why) {
  tev::Env& env = tev::Env::Current();
  // A stored folder that a client could not set today (an older database or
  // a raw Config change) is as good as missing.
  if (!tev::IsAcceptableFolder(directory, nullptr) || !env.IsDirectory(directory)) {
    if (why != nullptr) {
      *why = tev::WFormat(L"the folder %ls does not exist or is not a folder", directory.c_str());
    }
    return 122;
  }
  const std::wstring probe = directory + L"/__tev__test__";
  errno = 0;
  if (!env.CreateFile(probe) || !env.FileExists(probe)) {
    const int error = errno;
    if (why != nullptr) {
      *why = tev::WFormat(L"the folder %ls is not writable by user %ls", directory.c_str(),
                          UserName().c_str());
      if (error != 0) *why += L": " + tev::FromStdUtf8(std::strerror(error));
    }
    return 123;
  }
  env.RemoveFile(probe);
  return 0;
}
