// The entries of one folder, read one at a time (a folder of any size
// costs no more memory than one entry). Names are the raw bytes the file
// system holds; they need not be valid UTF-8.
#ifndef TEV_PLATFORM_FOLDERLISTING_H_
#define TEV_PLATFORM_FOLDERLISTING_H_

#include <functional>
#include <string>

namespace tev {

struct FolderEntry {
  enum Kind { kFile, kFolder, kLink, kOther };
  std::string name;
  Kind kind = kOther;  // of the entry itself: a link is never followed
};

// Calls `visit` for every entry of `folder` except "." and "..", in the
// file system's order, until it returns false. False (errno in *error when
// given) when the folder cannot be opened.
bool ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit,
                int* error = nullptr);

}  // namespace tev

#endif  // TEV_PLATFORM_FOLDERLISTING_H_
