#ifndef WEBSETUP_COMMON_MUTEX_H_
#define WEBSETUP_COMMON_MUTEX_H_

#include <mutex>

#include "common/thread_annotations.h"

namespace common {

// std::mutex with thread-safety annotations. Thread-safe.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }
  // Takes the mutex when it is free; returns whether it did.
  bool tryLock() TRY_ACQUIRE(true) { return mu_.try_lock(); }
  std::mutex& native() { return mu_; }

 private:
  std::mutex mu_;
};

// Holds a Mutex for the life of the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mu) ACQUIRE(mu) : mu_(mu) { mu_->lock(); }
  ~MutexLock() RELEASE() { mu_->unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mu_;
};

}  // namespace common

#endif  // WEBSETUP_COMMON_MUTEX_H_
