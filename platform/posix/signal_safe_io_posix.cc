#include "platform/signal_safe_io.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace platform {

bool writeAllFromSignalHandler(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t written = write(fd, data, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

int openForAppendFromSignalHandler(const char* path) {
  return open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
}

int createFileFromSignalHandler(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool closeFromSignalHandler(int fd) { return close(fd) == 0; }

int lastErrorFromSignalHandler() { return errno; }

int64_t threadIdFromSignalHandler() { return static_cast<int64_t>(pthread_self()); }

}  // namespace platform
