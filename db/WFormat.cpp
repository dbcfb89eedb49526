#include "db/WFormat.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace tev {

std::wstring WFormat(const wchar_t* format, ...) {
  // vswprintf reports only "too small" (-1), so grow until it fits; an
  // invalid format also gives -1, hence the limit.
  size_t size = 256;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::vector<wchar_t> buffer(size);
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < buffer.size()) {
      return std::wstring(buffer.data(), static_cast<size_t>(n));
    }
    size *= 2;
  }
  return std::wstring();
}

}  // namespace tev
