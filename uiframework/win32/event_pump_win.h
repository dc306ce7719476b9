#ifndef WEBSETUP_UIFRAMEWORK_WIN32_EVENT_PUMP_WIN_H_
#define WEBSETUP_UIFRAMEWORK_WIN32_EVENT_PUMP_WIN_H_

// The Win32 side of the UI message loop: the loop's thread drains its
// message queue here, and sleeps on it (and on a wake event that posting
// threads set) instead of polling. One per process, made by the first
// window host; it lives until the process ends.

#include <windows.h>
// windows.h's name for DispatchMessageW; the loop's MessageTarget method of
// that name must keep it in every file, or a vtable made in one names a
// function nobody defines.
#undef DispatchMessage

#include "uiframework/message_loop.h"

namespace ui::win {

class WinEventPump : public EventPump {
 public:
  // The process's pump. Never null.
  static WinEventPump* Get();

  // UI thread. PeekMessageW / TranslateMessage / DispatchMessageW of what
  // is queued now (a bounded number per call, so a flood of input cannot
  // starve timers and posted messages). A WM_QUIT becomes the loop's quit.
  void Pump() override;
  bool NeedsPolling() const override { return false; }
  // UI thread. MsgWaitForMultipleObjectsEx on the wake event and all input.
  bool WaitForEvents(Clock::time_point until) override;
  // Thread-safe.
  void Wake() override;

  // UI thread. Windows runs modal loops of its own (moving a window by its
  // caption, a system menu) inside DispatchMessageW; for their length a
  // timer of `hwnd` keeps the framework's loop going, without pumping,
  // since those loops read their own input.
  void EnterSystemLoop(HWND hwnd);
  void ExitSystemLoop(HWND hwnd);
  // UI thread. The window procedure's answer to `timer_id`: true when it
  // was the system loop's timer (a round of the framework's loop ran).
  bool OnTimer(HWND hwnd, UINT_PTR timer_id);

 private:
  WinEventPump();

  HANDLE wake_;  // auto-reset: each Wake() ends at most one wait
  int system_loops_ = 0;
  bool skip_pump_ = false;  // the round a system loop's timer runs
};

}  // namespace ui::win

#endif  // WEBSETUP_UIFRAMEWORK_WIN32_EVENT_PUMP_WIN_H_
