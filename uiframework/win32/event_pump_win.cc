#include "uiframework/win32/event_pump_win.h"

#include <algorithm>
#include <chrono>

namespace ui::win {

namespace {

// Messages dispatched per Pump(); then the loop runs its timers and posted
// messages, and the wait returns at once for the rest (MWMO_INPUTAVAILABLE).
constexpr int kMaxMessagesPerPump = 64;
// The system loop's timer id (a window's own ids are small numbers).
constexpr UINT_PTR kSystemLoopTimer = 0x5753;

}  // namespace

WinEventPump* WinEventPump::Get() {
  static WinEventPump* pump = new WinEventPump();
  return pump;
}

WinEventPump::WinEventPump() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void WinEventPump::Pump() {
  if (skip_pump_) {
    // The system loop that called us reads this input itself; taking its
    // button-up here would leave a dragged window stuck to the pointer.
    // A nested modal loop inside this round pumps again.
    skip_pump_ = false;
    return;
  }
  MSG msg;
  for (int i = 0; i < kMaxMessagesPerPump && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      MessageLoop::Get()->PostQuit(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool WinEventPump::WaitForEvents(Clock::time_point until) {
  if (wake_ == nullptr) return false;
  DWORD ms = 0;
  const Clock::time_point now = Clock::now();
  if (until > now) {
    // Rounded up: a wait that ends before the timer is due only spins.
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    ms = static_cast<DWORD>(std::min<long long>(wait, INFINITE - 1));
  }
  MsgWaitForMultipleObjectsEx(1, &wake_, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return true;
}

void WinEventPump::Wake() {
  if (wake_ != nullptr) SetEvent(wake_);
}

void WinEventPump::EnterSystemLoop(HWND hwnd) {
  ++system_loops_;
  // USER_TIMER_MINIMUM: the system loop dispatches it like any WM_TIMER.
  ::SetTimer(hwnd, kSystemLoopTimer, USER_TIMER_MINIMUM, nullptr);
}

void WinEventPump::ExitSystemLoop(HWND hwnd) {
  if (system_loops_ > 0) --system_loops_;
  ::KillTimer(hwnd, kSystemLoopTimer);
}

bool WinEventPump::OnTimer(HWND hwnd, UINT_PTR timer_id) {
  if (timer_id != kSystemLoopTimer) return false;
  if (system_loops_ == 0) {
    ::KillTimer(hwnd, kSystemLoopTimer);
    return true;
  }
  skip_pump_ = true;
  MessageLoop::Get()->RunPending();
  skip_pump_ = false;
  return true;
}

}  // namespace ui::win
