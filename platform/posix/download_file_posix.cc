#include "platform/download_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/files.h"

namespace platform {

DownloadFile::~DownloadFile() { close(); }

int DownloadFile::open(const std::string& path) {
  close();
  // "rb+" when the file exists, "wb+" otherwise: an existing download keeps
  // the bytes of earlier runs.
  const int flags = fileReadable(path) ? O_RDWR : (O_RDWR | O_CREAT | O_TRUNC);
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd >= 0) {
    handle_ = fd;
    return 0;
  }
  // Writing the image of a running program fails with ETXTBSY: the nearest
  // thing this system has to another process holding the file.
  return errno == ETXTBSY ? kSharingViolation : errno;
}

void DownloadFile::close() {
  if (handle_ != kClosed) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

size_t DownloadFile::writeAt(int64_t pos, const void* data, size_t size) {
  if (handle_ == kClosed || pos < 0) return 0;
  for (;;) {
    const ssize_t n = ::pwrite(static_cast<int>(handle_), data, size, static_cast<off_t>(pos));
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

}  // namespace platform
