#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/held_file.h"

namespace platform {

HeldFile::~HeldFile() { close(); }

HeldFile::HeldFile(HeldFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)),
      path_(std::move(other.path_)),
      origin_(std::move(other.origin_)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kClosed);
    path_ = std::move(other.path_);
    origin_ = std::move(other.origin_);
  }
  return *this;
}

void HeldFile::close() {
  if (handle_ != kClosed) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
  path_.clear();
  origin_.clear();
}

PlatformResult HeldFile::open(const std::string& path, HeldFile* out, int* osError) {
  int ignored = 0;
  if (osError == nullptr) osError = &ignored;
  *osError = 0;
  out->close();
  // O_CLOEXEC keeps the file out of other children; the kernel opens a
  // program before it closes those descriptors, so starting through
  // /proc/self/fd still works.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *osError = errno;
    return resultFromErrno(errno);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    *osError = EACCES;
    ::close(fd);
    return PlatformResult::kAccessDenied;
  }
  const mode_t wanted = (st.st_mode & 07777 & ~mode_t(S_IWGRP | S_IWOTH | S_ISUID | S_ISGID)) |
                        S_IXUSR;
  if (wanted != (st.st_mode & 07777) && fchmod(fd, wanted) != 0) {
    *osError = errno;
    ::close(fd);
    return resultFromErrno(*osError);
  }
  out->handle_ = fd;
  out->path_ = "/proc/self/fd/" + std::to_string(fd);
  out->origin_ = path;
  return PlatformResult::kOk;
}

PlatformResult HeldFile::copyTo(const std::string& target) const {
  if (handle_ == kClosed) return PlatformResult::kInvalidArgument;
  const int fd = static_cast<int>(handle_);
  const int out =
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (out < 0) return resultFromErrno(errno);
  char buffer[1 << 16];
  off_t at = 0;
  PlatformResult result = PlatformResult::kOk;
  for (;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      result = resultFromErrno(errno);
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        result = w < 0 ? resultFromErrno(errno) : PlatformResult::kIoError;
        break;
      }
      done += w;
    }
    if (result != PlatformResult::kOk) break;
    at += n;
  }
  if (::close(out) != 0 && result == PlatformResult::kOk) result = resultFromErrno(errno);
  if (result != PlatformResult::kOk) ::unlink(target.c_str());
  return result;
}

}  // namespace platform
