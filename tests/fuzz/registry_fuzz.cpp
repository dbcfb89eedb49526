// libFuzzer target: the settings file reader on any file content. Reads
// answer or fail without crashing, and never hand out more than the
// longest text a value may have.
#include <fstream>
#include <string>

#include "support/Registry.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchFolder() + "/registry.ini";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CRegistryImpl registry(path);
  const std::wstring keys[] = {L"SOFTWARE\\TEV Networks\\Tev\\Config", L"Software\\TEV Networks\\Tev",
                               L"HKEY_LOCAL_MACHINE\\a", L""};
  for (const std::wstring& key : keys) {
    for (const wchar_t* name : {L"velDirectory.host", L"LogLevel", L"a"}) {
      std::wstring text;
      uint32_t number = 0;
      if (registry.GetString(key, name, &text)) fuzz::Check(text.size() <= CRegistryImpl::kMaxStringLength);
      registry.GetDWORD(key, name, &number);
    }
  }
  return 0;
}
