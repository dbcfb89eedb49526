#include "platform/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tev {

namespace {

FolderEntry::Kind KindOf(const struct dirent* entry, int folderFd) {
  unsigned char type = entry->d_type;
  if (type == DT_UNKNOWN) {
    // Some file systems do not fill the type; ask without following links.
    struct stat info;
    if (fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return FolderEntry::kOther;
    }
    if (S_ISREG(info.st_mode)) return FolderEntry::kFile;
    if (S_ISDIR(info.st_mode)) return FolderEntry::kFolder;
    if (S_ISLNK(info.st_mode)) return FolderEntry::kLink;
    return FolderEntry::kOther;
  }
  switch (type) {
    case DT_REG: return FolderEntry::kFile;
    case DT_DIR: return FolderEntry::kFolder;
    case DT_LNK: return FolderEntry::kLink;
    default: return FolderEntry::kOther;
  }
}

}  // namespace

bool ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit,
                int* error) {
  DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
  if (dir == nullptr) {
    if (error) *error = folder.empty() ? ENOENT : errno;
    return false;
  }
  FolderEntry current;
  while (const struct dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    current.name = entry->d_name;
    current.kind = KindOf(entry, dirfd(dir));
    if (!visit(current)) break;
  }
  closedir(dir);
  return true;
}

}  // namespace tev
