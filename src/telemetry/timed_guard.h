#ifndef WEBSETUP_TELEMETRY_TIMED_GUARD_H_
#define WEBSETUP_TELEMETRY_TIMED_GUARD_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace telemetry {

// A lock that callers give up on after a time limit, like a manual-reset
// event used as a lock: TryAcquire waits until the guard is free (at most
// `limit`) and takes it; Release frees it. Built on a mutex and a condition
// variable rather than a timed mutex so ThreadSanitizer follows it.
// Thread-safe; not recursive.
class TimedGuard {
 public:
  // Returns false when the guard stayed taken for `limit`.
  bool TryAcquire(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!freed_.wait_for(lock, limit, [this] { return !taken_; })) return false;
    taken_ = true;
    return true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      taken_ = false;
    }
    freed_.notify_one();
  }

 private:
  std::mutex mu_;
  std::condition_variable freed_;
  bool taken_ = false;
};

}  // namespace telemetry

#endif  // WEBSETUP_TELEMETRY_TIMED_GUARD_H_
