#ifndef WEBSETUP_PLATFORM_NAMED_MUTEX_H_
#define WEBSETUP_PLATFORM_NAMED_MUTEX_H_

// Named locks: a lock file (0600) in the private runtime folder of
// runtimeDir() held with flock, shared by every run of the invoking user,
// elevated or not,
// plus an in-process mutex, because flock does not exclude the threads of
// one process from each other.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/result.h"

namespace platform {

// A mutex shared by every process that uses the same name (the stand-in for
// a named Win32 mutex used only for mutual exclusion). Thread-safe;
// not recursive.
class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Blocks until this thread holds the mutex in this process and the lock
  // file in the machine. If the lock file cannot be opened, the mutex still
  // excludes the threads of this process.
  void lock();
  void unlock();

 private:
  std::mutex local_;
  int fd_ = -1;
};

// The single-instance lock of a setup (the stand-in for an initially owned
// named mutex). Owned by the main thread; release() may be called from any
// thread, and releaseFromSignalHandler() from a signal handler.
class InstanceLock {
 public:
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the machine-wide lock `name`. Returns kOk and sets *out when this
  // process now holds it; kAlreadyExists when another process holds it;
  // another result when the lock file cannot be made (then *out is null and
  // nothing is held).
  [[nodiscard]] static PlatformResult acquire(const std::string& name,
                                              std::unique_ptr<InstanceLock>* out);

  // Gives the lock up. Idempotent, and one atomic step: of two threads
  // (or a thread and a signal handler) releasing at once, one closes.
  void release();

  // Gives the lock up using async-signal-safe calls only.
  void releaseFromSignalHandler();

  // The lock file's descriptor while held, else -1 (for the crash context).
  int descriptor() const { return fd_.load(); }

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  std::atomic<int> fd_;
};

// Path of the lock file behind `name`; empty when there is no safe runtime
// folder. Exposed for tests.
std::string lockFilePath(const std::string& name);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_NAMED_MUTEX_H_
