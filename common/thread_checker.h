#ifndef WEBSETUP_COMMON_THREAD_CHECKER_H_
#define WEBSETUP_COMMON_THREAD_CHECKER_H_

// A debug check that members meant for one thread (a window's, say) are
// called on it: the checker remembers the thread that first asks, and
// DCHECK_CALLED_ON_VALID_THREAD aborts with the place and both threads
// when another thread calls. Builds with NDEBUG (the shipped ones) keep
// the member but check nothing and emit no code, so the check costs the
// program nothing; WEBSETUP_DCHECK_ALWAYS_ON keeps it in any build.
//
//   class Window {
//     void Paint() { DCHECK_CALLED_ON_VALID_THREAD(uiThread_); ... }
//     common::ThreadChecker uiThread_;
//   };

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace common {

#if !defined(NDEBUG) || defined(WEBSETUP_DCHECK_ALWAYS_ON)
inline constexpr bool kThreadChecksOn = true;
#else
inline constexpr bool kThreadChecksOn = false;
#endif

class ThreadChecker {
 public:
  // True on the thread that called first (that call included); false on
  // any other. Thread-safe.
  bool CalledOnValidThread() const {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id owner{};
    if (owner_.compare_exchange_strong(owner, self)) return true;  // the first caller
    return owner == self;
  }
  // The next caller becomes the owner (the object moved to another thread).
  void DetachFromThread() { owner_ = std::thread::id(); }

  // Aborts with `function`, the place and both threads unless called on
  // the owning thread.
  void CheckOrAbort(const char* function, const char* file, int line) const {
    if (CalledOnValidThread()) return;
    std::fprintf(stderr,
                 "%s:%d: %s called on thread %zu; it belongs to thread %zu (ThreadChecker)\n", file,
                 line, function, std::hash<std::thread::id>()(std::this_thread::get_id()),
                 std::hash<std::thread::id>()(owner_.load()));
    std::fflush(stderr);
    std::abort();
  }

 private:
  mutable std::atomic<std::thread::id> owner_{};
};

}  // namespace common

#if !defined(NDEBUG) || defined(WEBSETUP_DCHECK_ALWAYS_ON)
#define DCHECK_CALLED_ON_VALID_THREAD(checker) (checker).CheckOrAbort(__func__, __FILE__, __LINE__)
#else
// Nothing is evaluated: the operand of sizeof is never run.
#define DCHECK_CALLED_ON_VALID_THREAD(checker) static_cast<void>(sizeof(checker))
#endif

#endif  // WEBSETUP_COMMON_THREAD_CHECKER_H_
