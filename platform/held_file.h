#ifndef WEBSETUP_PLATFORM_HELD_FILE_H_
#define WEBSETUP_PLATFORM_HELD_FILE_H_

// A file held open from its check to its start (the stand-in for a handle
// opened without FILE_SHARE_WRITE | FILE_SHARE_DELETE and kept open until
// CreateProcess). Whoever reads or starts the file goes through path(),
// which names the opened file itself: a file put at the old path after the
// open is neither read nor started. Move-only; one thread at a time.

#include <cstdint>
#include <string>

#include "platform/result.h"

namespace platform {

class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens `path` without following a symbolic link. Only a regular file of
  // this user qualifies (kAccessDenied otherwise); others lose any right to
  // write it, and its owner gains the right to run it (a download carries
  // no such mark, as a Windows file needs none). On Windows the file's
  // rights stay as they are: it lies in a private folder whose rights it
  // inherits, and while it is held nobody can open it for writing. There
  // "of this user" also takes the Administrators group, which owns what an
  // elevated run creates. `osError` receives errno or GetLastError().
  [[nodiscard]] static PlatformResult open(const std::string& path, HeldFile* out,
                                           int* osError = nullptr);

  bool isOpen() const { return handle_ != kClosed; }
  // The path through which the opened file is read and started; empty when
  // nothing is held. On Linux /proc/self/fd/N. On Windows the file's own
  // path as the open handle names it (GetFinalPathNameByHandleW): the
  // handle refuses writers and deleters, and a folder with an open file in
  // it cannot be renamed, so nothing else can come to stand at that path.
  const std::string& path() const { return path_; }
  // The path the file was opened by.
  const std::string& origin() const { return origin_; }

  // Writes the held file's bytes to the new file `target` (created
  // exclusively, 0700), so it can run from a volume that allows programs.
  [[nodiscard]] PlatformResult copyTo(const std::string& target) const;

 private:
  void close();

  // A file descriptor or a Windows HANDLE; -1 is "none" for both.
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
  std::string path_;
  std::string origin_;
};

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_HELD_FILE_H_
