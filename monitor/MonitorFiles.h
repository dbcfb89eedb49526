// File facts the folder monitor's passes need. Paths are wide; they reach
// the file system as UTF-8.
#ifndef TEV_MONITOR_MONITORFILES_H_
#define TEV_MONITOR_MONITORFILES_H_

#include <cstdint>
#include <string>

namespace monitorfiles {

// "<folder>/<name>", built exactly as the recorder builds the paths of its
// own files, so that a found file and its row name it alike.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// Last modification of the file (seconds since 1970), or now (product
// clock) when it cannot be read. (Read here: the environment seam has no
// modification times.)
int64_t ModificationTime(const std::wstring& folder, const std::wstring& name);

}  // namespace monitorfiles

#endif  // TEV_MONITOR_MONITORFILES_H_
