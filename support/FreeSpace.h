// Free space of the volume that holds a directory, the platform reading
// behind the engine's disk-space management. Any thread.
#ifndef TEV_SUPPORT_FREESPACE_H_
#define TEV_SUPPORT_FREESPACE_H_

#include <cstdint>
#include <string>

namespace tev {

// The bytes an unprivileged writer may still use on the volume of
// `directory` (as the environment seam reads it), divided by 1024. -1 when
// it cannot be read, with the ERROR line
// "CInformationImpl::GetFreeDiskSpaceImpl failed for directory %s".
int64_t GetFreeDiskSpace(const std::wstring& directory);

}  // namespace tev

#endif  // TEV_SUPPORT_FREESPACE_H_
