#ifndef WEBSETUP_PLATFORM_FOLDERS_H_
#define WEBSETUP_PLATFORM_FOLDERS_H_

// Listing folders (the stand-in for FindFirstFile/FindNextFile).
// Thread-safe.

#include <string>
#include <vector>

#include "platform/result.h"

namespace platform {

struct FolderEntry {
  std::string name;
  bool isFolder = false;  // a real folder; a symbolic link to one is not
};

// The entries of folder `path` in the order the file system lists them,
// without "." and "..". kNotFound when the folder does not exist.
[[nodiscard]] PlatformResult listFolder(const std::string& path, std::vector<FolderEntry>* out);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FOLDERS_H_
