#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace platform {

PlatformResult listFolder(const std::string& path, std::vector<FolderEntry>* out) {
  out->clear();
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return resultFromErrno(errno);
  while (dirent* ent = readdir(dir)) {
    const std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = name;
    if (ent->d_type == DT_DIR) {
      entry.isFolder = true;
    } else if (ent->d_type == DT_UNKNOWN) {
      // Some file systems leave the type to a stat call.
      struct stat st {};
      entry.isFolder = fstatat(dirfd(dir), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(st.st_mode);
    }
    out->push_back(std::move(entry));
  }
  closedir(dir);
  return PlatformResult::kOk;
}

}  // namespace platform
