#include "platform/PathCheck.h"

namespace tev {

bool IsAcceptableFolder(const std::wstring& folder, std::wstring* reason) {
  auto refuse = [reason](const wchar_t* why) {
    if (reason) *reason = why;
    return false;
  };
  if (folder.empty() || folder[0] != L'/') return refuse(L"folder is not an absolute path");
  for (wchar_t c : folder) {
    if (c == L'\0') return refuse(L"folder path holds a NUL character");
    if (static_cast<unsigned long>(c) < 0x20 || c == 0x7f)
      return refuse(L"folder path holds a control character");
  }
  size_t begin = 0;
  while (begin <= folder.size()) {
    size_t end = folder.find(L'/', begin);
    if (end == std::wstring::npos) end = folder.size();
    if (folder.compare(begin, end - begin, L"..") == 0)
      return refuse(L"folder path holds a \"..\" component");
    begin = end + 1;
  }
  return true;
}

}  // namespace tev
