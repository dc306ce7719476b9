#include "uiframework/message_loop.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "uiframework/ui_types.h"

namespace ui {

namespace {
// How often the loop polls a windowing system that cannot wake it.
constexpr auto kPollInterval = std::chrono::milliseconds(8);
constexpr auto kLongWait = std::chrono::milliseconds(500);
}  // namespace

MessageLoop* MessageLoop::Get() {
  static MessageLoop* loop = new MessageLoop();
  return loop;
}

WindowHandle MessageLoop::Register(MessageTarget* target) {
  common::MutexLock lock(&mu_);
  WindowHandle handle = next_handle_++;
  targets_[handle] = target;
  return handle;
}

void MessageLoop::Unregister(WindowHandle handle) {
  {
    common::MutexLock lock(&mu_);
    targets_.erase(handle);
  }
  KillTimers(handle);
}

bool MessageLoop::IsWindow(WindowHandle handle) const {
  common::MutexLock lock(&mu_);
  return targets_.count(handle) != 0;
}

bool MessageLoop::PostUiMessage(WindowHandle handle, uint32_t message, uintptr_t wparam,
                                intptr_t lparam) {
  {
    common::MutexLock lock(&mu_);
    if (targets_.count(handle) == 0) return false;
    queue_.push_back(Posted{handle, message, wparam, lparam, nullptr});
  }
  Notify();
  return true;
}

void MessageLoop::PostTask(std::function<void()> task) {
  {
    common::MutexLock lock(&mu_);
    queue_.push_back(Posted{0, 0, 0, 0, std::move(task)});
  }
  Notify();
}

void MessageLoop::PostQuit(int code) {
  {
    common::MutexLock lock(&mu_);
    if (!quit_) quit_code_ = code;
    quit_ = true;
  }
  Notify();
}

bool MessageLoop::QuitRequested() const {
  common::MutexLock lock(&mu_);
  return quit_;
}

void MessageLoop::ResetQuit() {
  common::MutexLock lock(&mu_);
  quit_ = false;
  quit_code_ = 0;
}

void MessageLoop::SetTimer(WindowHandle handle, uint32_t id, uint32_t period_ms) {
  period_ms = std::max(period_ms, kMinTimerPeriodMs);
  {
    common::MutexLock lock(&mu_);
    timers_[{handle, id}] =
        Timer{period_ms, Clock::now() + std::chrono::milliseconds(period_ms), ++timer_order_};
  }
  Notify();
}

bool MessageLoop::KillTimer(WindowHandle handle, uint32_t id) {
  common::MutexLock lock(&mu_);
  return timers_.erase({handle, id}) != 0;
}

void MessageLoop::KillTimers(WindowHandle handle) {
  common::MutexLock lock(&mu_);
  for (auto it = timers_.begin(); it != timers_.end();) {
    it = it->first.first == handle ? timers_.erase(it) : std::next(it);
  }
}

void MessageLoop::Notify() {
  cv_.notify_all();
  if (EventPump* pump = pump_.load()) pump->Wake();
}

void MessageLoop::ResetStalls() {
  longest_stall_ = Stall{};
  stretch_open_ = false;
}

void MessageLoop::EndPiece(Clock::time_point started, const char* kind, uint64_t number) {
  // A piece that ran a nested loop counts only from that loop's last wake.
  Clock::duration length = Clock::now() - std::max(started, stretch_start_);
  if (length <= stretch_piece_) return;
  stretch_piece_ = length;
  stretch_kind_ = kind;
  stretch_number_ = number;
}

void MessageLoop::EndStretch() {
  if (!stretch_open_) return;
  stretch_open_ = false;
  Clock::duration length = Clock::now() - stretch_start_;
  const char* kind = stretch_kind_;
  uint64_t number = stretch_number_;
  stretch_piece_ = Clock::duration::zero();
  stretch_kind_ = "";
  if (length <= longest_stall_.length) return;
  char what[48];
  if (std::strcmp(kind, "message") == 0) {
    std::snprintf(what, sizeof what, "message 0x%04" PRIx64, number);
  } else if (std::strcmp(kind, "timer") == 0) {
    std::snprintf(what, sizeof what, "timer %" PRIu64, number);
  } else {
    std::snprintf(what, sizeof what, "%s", *kind != 0 ? kind : "loop");
  }
  longest_stall_ = Stall{length, what};
  if (stall_observer_) stall_observer_(longest_stall_);
}

void MessageLoop::Deliver(const Posted& posted) {
  const Clock::time_point started = Clock::now();
  if (posted.task) {
    posted.task();
    EndPiece(started, "task", 0);
    return;
  }
  MessageTarget* target = nullptr;
  {
    common::MutexLock lock(&mu_);
    auto it = targets_.find(posted.handle);
    if (it != targets_.end()) target = it->second;
  }
  // A window destroyed after the post simply loses the message.
  if (target != nullptr) target->DispatchMessage(posted.message, posted.wparam, posted.lparam);
  if (posted.message == kWmTimer) {
    EndPiece(started, "timer", posted.wparam);
  } else {
    EndPiece(started, "message", posted.message);
  }
}

void MessageLoop::DispatchTimers() {
  Clock::time_point now = Clock::now();
  std::vector<std::pair<TimerKey, Timer>> due;
  {
    common::MutexLock lock(&mu_);
    for (const auto& [key, timer] : timers_) {
      if (timer.due <= now) due.emplace_back(key, timer);
    }
  }
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
    return a.second.due != b.second.due ? a.second.due < b.second.due
                                        : a.second.order < b.second.order;
  });
  for (const auto& [key, timer] : due) {
    {
      // An earlier handler may have killed or restarted this timer.
      common::MutexLock lock(&mu_);
      auto it = timers_.find(key);
      if (it == timers_.end() || it->second.order != timer.order) continue;
      it->second.due = now + std::chrono::milliseconds(it->second.period_ms);
    }
    Deliver(Posted{key.first, kWmTimer, key.second, 0, nullptr});
  }
}

bool MessageLoop::Step(Clock::duration max_wait, const std::function<bool()>* done) {
  // A round that follows another without a wait (RunPending, a nested loop
  // starting inside a handler) ends the stretch that led to it.
  EndStretch();
  StartStretch();
  // Drain what is queued now; messages posted by handlers wait for the next
  // round so a chatty sender cannot starve timers.
  std::deque<Posted> batch;
  {
    common::MutexLock lock(&mu_);
    if (quit_) return false;
    batch.swap(queue_);
  }
  for (const Posted& posted : batch) {
    Deliver(posted);
    if (QuitRequested()) return false;
  }
  DispatchTimers();
  EventPump* pump = pump_.load();
  if (pump != nullptr) {
    const Clock::time_point started = Clock::now();
    pump->Pump();
    EndPiece(started, "input", 0);
  }
  if (idle_) {
    const Clock::time_point started = Clock::now();
    idle_();
    EndPiece(started, "paint", 0);
  }
  // A modal loop whose window closed in this round ends now, not after
  // the wait (half a second per message box otherwise).
  if (done != nullptr && (*done)()) return !QuitRequested();
  EndStretch();
  // A handler may have installed a pump during this round.
  pump = pump_.load();
  if (pump != nullptr && WaitInPump(pump, max_wait)) {
    StartStretch();
    return !QuitRequested();
  }
  Clock::time_point until = Clock::now() + max_wait;
  if (pump != nullptr && pump->NeedsPolling())
    until = std::min(until, Clock::now() + kPollInterval);
  common::MutexLock lock(&mu_);
  for (const auto& [key, timer] : timers_) until = std::min(until, timer.due);
  // A timer set from another thread meanwhile also wakes the wait.
  uint64_t order = timer_order_;
  cv_.wait_until(mu_, until, [this, order]() EXCLUSIVE_LOCKS_REQUIRED(mu_) {
    return quit_ || !queue_.empty() || timer_order_ != order;
  });
  StartStretch();
  return !quit_;
}

bool MessageLoop::WaitInPump(EventPump* pump, Clock::duration max_wait) {
  Clock::time_point until = Clock::now() + max_wait;
  {
    common::MutexLock lock(&mu_);
    // Work that came during the round needs no wait; work that comes from
    // here on calls Wake(), which also ends a wait not yet begun.
    if (quit_ || !queue_.empty()) return true;
    for (const auto& [key, timer] : timers_) until = std::min(until, timer.due);
  }
  return pump->WaitForEvents(until);
}

int MessageLoop::Run() {
  while (Step(kLongWait)) {
  }
  // What the thread does after the loop (shutting down) is not a stall.
  stretch_open_ = false;
  common::MutexLock lock(&mu_);
  quit_ = false;  // consumed by the outermost loop, as WM_QUIT is
  return quit_code_;
}

bool MessageLoop::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    if (!Step(kLongWait, &done)) return false;
  }
  return true;
}

bool MessageLoop::RunPending() { return Step(Clock::duration::zero()); }

}  // namespace ui
