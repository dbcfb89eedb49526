// Checks on folder texts that come from clients or from stored settings
// before they become paths handed to the OS.
#ifndef TEV_PLATFORM_PATHCHECK_H_
#define TEV_PLATFORM_PATHCHECK_H_

#include <string>

namespace tev {

// True when `folder` may name a recording folder: absolute ("/" first), no
// NUL or other control character (the OS would cut the path there and act
// on another one), and no ".." component. Otherwise false with *reason set.
// Pure: touches no file.
bool IsAcceptableFolder(const std::wstring& folder, std::wstring* reason);

}  // namespace tev

#endif  // TEV_PLATFORM_PATHCHECK_H_
