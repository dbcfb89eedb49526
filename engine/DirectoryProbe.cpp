// The writable-directory probe used by intake and by the settings that
// change the recording folders.
#include "engine/Schedules.h"
#include "platform/Env.h"
#include "platform/PathCheck.h"

int Schedules::CheckDirectoryWritable(const std::wstring& directory) {
  tev::Env& env = tev::Env::Current();
  // A stored folder that a client could not set today (an older database or
  // a raw Config change) is as good as missing.
  if (!tev::IsAcceptableFolder(directory, nullptr) || !env.IsDirectory(directory)) return 122;
  const std::wstring probe = directory + L"/__tev__test__";
  if (!env.CreateFile(probe) || !env.FileExists(probe)) return 123;
  env.RemoveFile(probe);
  return 0;
}
