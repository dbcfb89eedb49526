// libFuzzer target: the settings file reader on any file content. Reads
// answer or fail without crashing; a value written is read back as written.
#include <fstream>
#include <map>
#include <string>

#include "support/Registry.h"
#include "support/WideText.h"
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
    std::wstring text;
    uint32_t number = 0;
    registry.GetString(key, L"velDirectory.host", &text);
    registry.GetDWORD(key, L"LogLevel", &number);
    std::map<std::wstring, std::wstring> values;
    registry.EnumValues(key, &values);
    for (const auto& entry : values) {
      registry.GetString(key, entry.first, &text);
      fuzz::Check(text.size() <= CRegistryImpl::kMaxStringLength);
    }
    unsigned char* bytes = nullptr;
    long length = 0;
    if (registry.GetBinary(key, L"Blob", &bytes, &length)) delete[] bytes;
  }
  // Whatever the file held, a change keeps it readable and reads back.
  const std::wstring value = L" written \U0001F600 ";
  if (registry.SetString(L"Software\\Fuzz", L"Name", value)) {
    std::wstring back;
    fuzz::Check(registry.GetString(L"Software\\Fuzz", L"Name", &back));
    fuzz::Check(back == value);
  }
  return 0;
}
