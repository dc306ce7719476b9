#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/download_file.h"

namespace platform {

DownloadFile::~DownloadFile() { close(); }

int DownloadFile::open(const std::string& path) {
  close();
  // "rb+" when the file exists, "wb+" otherwise: an existing download keeps
  // the bytes of earlier runs.
  const int flags = fileReadable(path) ? O_RDWR : (O_RDWR | O_CREAT | O_TRUNC);
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ >= 0) return 0;
  // Writing the image of a running program fails with ETXTBSY: the nearest
  // thing this system has to another process holding the file.
  return errno == ETXTBSY ? kSharingViolation : errno;
}

void DownloadFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

size_t DownloadFile::writeAt(int64_t pos, const void* data, size_t size) {
  if (fd_ < 0 || pos < 0) return 0;
  for (;;) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(pos));
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

bool fileReadable(const std::string& path) {
  return ::access(path.c_str(), R_OK) == 0;
}

int64_t fileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool deleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool replaceFileAtomically(const std::string& path, const std::string& content) {
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == content.size() && ::close(fd) == 0;
  if (!ok) {
    if (done != content.size()) ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  return ::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace platform
