#ifndef WEBSETUP_COMMON_THREAD_TOOLS_H_
#define WEBSETUP_COMMON_THREAD_TOOLS_H_

// Small thread tools shared by the engine, the install flow and telemetry:
// events (auto- and manual-reset) and a thread handle that can be waited
// for with a time limit, as Windows handles can.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace common {

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

}  // namespace common

#endif  // WEBSETUP_COMMON_THREAD_TOOLS_H_
