#include "db/WFormat.h"

#include <cstdarg>
#include <cwchar>
#include <memory>

namespace tev {

std::wstring WFormat(const wchar_t* format, ...) {
  // vswprintf reports only "too small" (-1), so grow until it fits; an
  // invalid format also gives -1, hence the limit. Statements run to several
  // hundred characters and are formatted on the path of every request: the
  // first try goes to a buffer of the thread, never cleared or allocated.
  thread_local wchar_t first[4096];
  std::unique_ptr<wchar_t[]> larger;
  for (size_t size = sizeof(first) / sizeof(first[0]); size <= (size_t{1} << 23); size *= 2) {
    wchar_t* buffer = first;
    if (size > sizeof(first) / sizeof(first[0])) {
      larger.reset(new wchar_t[size]);
      buffer = larger.get();
    }
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buffer, size, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < size) {
      return std::wstring(buffer, static_cast<size_t>(n));
    }
  }
  return std::wstring();
}

}  // namespace tev
