#ifndef WEBSETUP_COMMON_THREAD_TOOLS_H_
#define WEBSETUP_COMMON_THREAD_TOOLS_H_

// Small thread tools shared by the engine, the install flow and telemetry:
// events (auto- and manual-reset), a thread handle that can be waited for
// with a time limit, as Windows handles can, and the one way the program
// starts a thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace common {

// What every thread started by StartThread (or CThreadHandle) runs before
// its body: the crash handler sets it to give each thread an alternate
// signal stack, so a stack overflow on any thread still leaves a dump.
// Set once at start-up, before the first thread starts; null: nothing.
using ThreadPrologue = void (*)();
void SetThreadPrologue(ThreadPrologue prologue);

// Starts a thread that runs the prologue, then `body`. Throws
// std::system_error, as std::thread does, when no thread can be made.
std::thread StartThread(std::function<void()> body);

// An unnamed auto-reset event. Thread-safe.
class CEvent {
 public:
  void set();
  // Blocks until the event is set, then resets it.
  void wait();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A manual-reset event: once set it stays set, releasing every waiter,
// until reset. Thread-safe.
class ManualResetEvent {
 public:
  void set();
  void reset();
  bool isSet();
  // Waits at most `limit` (negative: without limit). True when set.
  bool wait(std::chrono::milliseconds limit = std::chrono::milliseconds(-1));

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A thread that can be waited for with a time limit. Owned by the thread's
// creator; the creator's thread is the only caller.
class CThreadHandle {
 public:
  CThreadHandle() = default;
  ~CThreadHandle();
  CThreadHandle(const CThreadHandle&) = delete;
  CThreadHandle& operator=(const CThreadHandle&) = delete;

  // Starts `body`. Returns false when the thread could not be created.
  bool start(std::function<void()> body);
  // Waits at most `ms` for the thread to end. True when it has ended (or
  // never started).
  bool waitFor(uint32_t ms);
  // Joins an ended thread; a thread still running is left to run detached.
  // Returns true when the thread had ended.
  bool close();
  bool started() const { return thread_.joinable(); }

 private:
  struct Done {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  std::thread thread_;
  std::shared_ptr<Done> done_;
};

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

}  // namespace common

#endif  // WEBSETUP_COMMON_THREAD_TOOLS_H_
