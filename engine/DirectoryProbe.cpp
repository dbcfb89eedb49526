// The writable-directory probe used by intake and by the settings that
// change the recording folders.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/Schedules.h"
#include "platform/PathCheck.h"
#include "support/WideText.h"

int Schedules::CheckDirectoryWritable(const std::wstring& directory) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string folder = tev::ToStdUtf8(directory);
  // A stored folder that a client could not set today (an older database or
  // a raw Config change) is as good as missing.
  if (!tev::IsAcceptableFolder(directory, nullptr) || !fs::is_directory(folder, ec)) return 122;
  const std::string probe = tev::ToStdUtf8(directory + L"/__tev__test__");
  if (FILE* file = std::fopen(probe.c_str(), "wb")) std::fclose(file);
  if (!fs::exists(probe, ec)) return 123;
  fs::remove(probe, ec);
  return 0;
}
