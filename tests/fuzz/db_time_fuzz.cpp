// libFuzzer target: the database, media-library and file-name time texts.
// Any text reads as a time or as -1 without crashing; a time that reads
// back from its own database text is the same time.
#include <cstdlib>
#include <string>

#include "db/TimeUtils.h"
#include "platform/WideText.h"
#include "support/VelException.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text =
      tev::FromStdUtf8(std::string(reinterpret_cast<const char*>(data), size));
  const int64_t times[] = {GetTime3(text), GetTime2(text), GetTime(text)};
  for (int64_t t : times) {
    if (t == -1) continue;
    try {
      fuzz::Check(GetTime3(FormatTime3(t)) == t);
      FormatTime2(t);
      FormatTime4(t);
      FormatFilenameDate(t);
    } catch (const VelException&) {
      // A time the formats cannot write is refused, not mangled.
    }
  }
  return 0;
}
