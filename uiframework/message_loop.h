#ifndef WEBSETUP_UIFRAMEWORK_MESSAGE_LOOP_H_
#define WEBSETUP_UIFRAMEWORK_MESSAGE_LOOP_H_

// The process's UI message loop, in the manner of Win32: windows are known
// by a handle; any thread may post a message to a handle, post a task or
// ask the loop to quit; timers (by window and id) fire as kWmTimer on the
// loop's thread; nested loops (modal windows) keep dispatching everything,
// the owner's timers and posted messages included. Posted messages come
// before timers, and timers fire at most once per period (no bursts after
// a stall), as WM_TIMER does.
//
// The loop belongs to the thread that first runs it (the UI thread);
// PostUiMessage, PostTask and PostQuit are thread-safe, everything else is
// for the UI thread only.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "common/mutex.h"

namespace ui {

using WindowHandle = uint32_t;  // 0 is no window

// Receives the messages of one window handle.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Handles `message` on the UI thread.
  virtual intptr_t DispatchMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

// Pumps the events of a windowing system (SDL, Win32) from inside the loop.
// A pump that can block on its own event source (a Win32 thread's message
// queue) also does the loop's waiting, so input and posted messages wake
// the thread at once instead of being polled for.
class EventPump {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~EventPump() = default;
  // Dispatches pending events without blocking.
  virtual void Pump() = 0;
  // Whether the pump needs regular polling (events do not wake the loop).
  virtual bool NeedsPolling() const = 0;
  // Blocks the loop's thread until the windowing system has an event for
  // it, Wake() is called or `until` passes. Returns false at once when
  // this pump cannot wait (the loop then waits on its own).
  virtual bool WaitForEvents(Clock::time_point until) {
    (void)until;
    return false;
  }
  // Thread-safe. Ends the WaitForEvents under way, or the next one, early.
  virtual void Wake() {}
};

class MessageLoop {
 public:
  using Clock = std::chrono::steady_clock;

  // The process-wide loop. Never null.
  static MessageLoop* Get();

  WindowHandle Register(MessageTarget* target);
  void Unregister(WindowHandle handle);
  bool IsWindow(WindowHandle handle) const;

  // Thread-safe. Queues `message` for `handle`. Returns false when the
  // handle names no window (the message is dropped).
  bool PostUiMessage(WindowHandle handle, uint32_t message, uintptr_t wparam, intptr_t lparam);
  // Thread-safe. Runs `task` on the UI thread.
  void PostTask(std::function<void()> task);
  // Thread-safe. Ends Run() with `code`; nested loops end first.
  void PostQuit(int code);

  // Thread-safe (a worker may switch a window's timer on). Starts or
  // restarts timer `id` of `handle`; periods below kMinTimerPeriodMs are
  // raised to it. The timer fires on the UI thread.
  void SetTimer(WindowHandle handle, uint32_t id, uint32_t period_ms) LOCKS_EXCLUDED(mu_);
  // Thread-safe. Returns whether the timer existed.
  bool KillTimer(WindowHandle handle, uint32_t id) LOCKS_EXCLUDED(mu_);
  // Thread-safe. Kills every timer of `handle`.
  void KillTimers(WindowHandle handle) LOCKS_EXCLUDED(mu_);

  // Runs until PostQuit; returns its code.
  int Run();
  // Runs a nested loop until `done` holds (checked after each dispatch).
  // Returns false when a quit ended it early; the quit stays pending so
  // outer loops end as well.
  bool RunUntil(const std::function<bool()>& done);
  // Dispatches what is due now without waiting. Returns false after quit.
  bool RunPending();

  // Called after each round of dispatching (windows repaint here).
  void SetIdleHandler(std::function<void()> idle) { idle_ = std::move(idle); }
  // The pump lives as long as the process (or until replaced).
  void SetEventPump(EventPump* pump) { pump_.store(pump); }
  bool QuitRequested() const;
  // Clears a pending quit (tests that run several loops in one process).
  void ResetQuit();

  // The longest stretch the loop's thread spent away from its events since
  // the loop first ran: from waking (or starting a round) to its next wait
  // or round, so a slow handler, timer, paint or input burst shows, and the
  // time spent waiting does not. Work done before the first round (building
  // the first window) is start-up, not a stall. `what` names the longest
  // single piece of that stretch: "message 0x...", "timer N", "task",
  // "input", "paint". UI thread.
  struct Stall {
    Clock::duration length{};
    std::string what;
  };
  const Stall& LongestStall() const { return longest_stall_; }
  // Called on the UI thread each time the longest stall grows (the window
  // probe records it for a driver outside the process).
  void SetStallObserver(std::function<void(const Stall&)> observer) {
    stall_observer_ = std::move(observer);
  }
  // Forgets the longest stall (tests).
  void ResetStalls();

 private:
  struct Posted {
    WindowHandle handle = 0;
    uint32_t message = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
    std::function<void()> task;
  };
  struct Timer {
    uint32_t period_ms = 0;
    Clock::time_point due;
    uint64_t order = 0;  // ties fire in the order the timers were set
  };
  using TimerKey = std::pair<WindowHandle, uint32_t>;

  MessageLoop() = default;
  // One round: posted messages, due timers, the pump, idle; then waits up
  // to `max_wait` for more work.
  bool Step(Clock::duration max_wait, const std::function<bool()>* done = nullptr);
  void DispatchTimers();
  // Wakes the waiting loop: its condition variable and the pump.
  void Notify();
  // Waits up to `max_wait` (less when a timer is due sooner) inside the
  // pump. Returns false when the pump cannot wait.
  bool WaitInPump(EventPump* pump, Clock::duration max_wait) LOCKS_EXCLUDED(mu_);
  void Deliver(const Posted& posted);
  // The bookkeeping of stalls: a stretch of work ends at each round and each
  // wait; pieces inside it (one message, one timer, the pump, the paint)
  // say which was the longest.
  void EndStretch();
  void StartStretch() { stretch_open_ = true, stretch_start_ = Clock::now(); }
  void EndPiece(Clock::time_point started, const char* kind, uint64_t number);

  mutable common::Mutex mu_;
  std::condition_variable_any cv_;
  std::deque<Posted> queue_ GUARDED_BY(mu_);
  bool quit_ GUARDED_BY(mu_) = false;
  int quit_code_ GUARDED_BY(mu_) = 0;
  std::map<WindowHandle, MessageTarget*> targets_ GUARDED_BY(mu_);
  WindowHandle next_handle_ GUARDED_BY(mu_) = 1;

  std::map<TimerKey, Timer> timers_ GUARDED_BY(mu_);
  uint64_t timer_order_ GUARDED_BY(mu_) = 0;
  std::function<void()> idle_;
  // Read by posting threads to wake the pump; set on the UI thread.
  std::atomic<EventPump*> pump_{nullptr};

  bool stretch_open_ = false;
  Clock::time_point stretch_start_;
  Clock::duration stretch_piece_{};  // the longest piece of the open stretch
  const char* stretch_kind_ = "";
  uint64_t stretch_number_ = 0;
  Stall longest_stall_;
  std::function<void(const Stall&)> stall_observer_;
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_MESSAGE_LOOP_H_
