#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/posix/runtime_dir_posix.h"

namespace platform {

namespace {

// Lock names may carry characters a file name cannot.
std::string sanitize(const std::string& name) {
  std::string out;
  for (char c : name) out += (c == '/' || c == '\0') ? '_' : c;
  return out;
}

int openLockFile(const std::string& name) {
  const std::string path = lockFilePath(name);
  if (path.empty()) {
    errno = EACCES;
    return -1;
  }
  return openRuntimeFile(path);
}

}  // namespace

std::string lockFilePath(const std::string& name) {
  const std::string dir = runtimeDir();
  if (dir.empty()) return std::string();
  return dir + "/websetup-" + sanitize(name) + ".lock";
}

NamedMutex::NamedMutex(const std::string& name) : fd_(openLockFile(name)) {}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) close(fd_);
}

void NamedMutex::lock() {
  local_.lock();
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void NamedMutex::unlock() {
  if (fd_ >= 0) flock(fd_, LOCK_UN);
  local_.unlock();
}

PlatformResult InstanceLock::acquire(const std::string& name, std::unique_ptr<InstanceLock>* out) {
  out->reset();
  const int fd = openLockFile(name);
  if (fd < 0) return resultFromErrno(errno);
  int rc;
  while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? PlatformResult::kAlreadyExists : resultFromErrno(err);
  }
  out->reset(new InstanceLock(fd));
  return PlatformResult::kOk;
}

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() {
  const int fd = fd_.exchange(-1);
  if (fd < 0) return;
  flock(fd, LOCK_UN);
  close(fd);
}

void InstanceLock::releaseFromSignalHandler() {
  // close() alone drops the flock and is async-signal-safe; so is the
  // lock-free exchange.
  const int fd = fd_.exchange(-1);
  if (fd >= 0) close(fd);
}

}  // namespace platform
