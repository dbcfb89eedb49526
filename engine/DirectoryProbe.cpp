// The writable-directory probe used by intake and by the settings that
// change the recording folders.
#include "engine/Schedules.h"
#include "platform/Env.h"

int Schedules::CheckDirectoryWritable(const std::wstring& directory) {
  tev::Env& env = tev::Env::Current();
  if (directory.empty() || !env.IsDirectory(directory)) return 122;
  const std::wstring probe = directory + L"/__tev__test__";
  if (!env.CreateFile(probe) || !env.FileExists(probe)) return 123;
  env.RemoveFile(probe);
  return 0;
}
