// The desktop's window on Windows: a WS_POPUP window (the skin draws its own
// caption) that shows the frames Cairo renders, through WM_PAINT or, for a
// window with transparent parts, UpdateLayeredWindow with per-pixel alpha.
// Input, the input method, DPI changes and the clipboard are Win32's own;
// the framework's message loop waits in the thread's message queue
// (event_pump_win.h).

#include <windows.h>
// After windows.h, whose types it uses.
#include <imm.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "common/log.h"
#include "common/text.h"
#include "uiframework/host.h"
#include "uiframework/win32/clipboard_win.h"
#include "uiframework/win32/event_pump_win.h"
#include "uiframework/win32/frame_bitmap_win.h"
#include "uiframework/win32/input_win.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace ui {

namespace {

using win::WinEventPump;

constexpr wchar_t kWindowClass[] = L"websetup.SkinWindow";
constexpr double kLayoutDpi = 96.0;

// The window's DPI: GetDpiForWindow where it exists (Windows 10 1607 on),
// else the system's, which is what an older Windows scales every monitor to.
UINT windowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    if (UINT dpi = getDpiForWindow(hwnd); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// The signed point a mouse message carries (windowsx.h's GET_X_LPARAM;
// that header also renames IsMinimized, which the host must keep).
POINT pointOf(LPARAM lparam) {
  return POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
}

ATOM registerWindowClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // No background brush: every pixel comes from the frame.
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc);
}

class WinHost : public WindowHost {
 public:
  explicit WinHost(HostDelegate* delegate) : delegate_(delegate) {}
  // The window procedure's first message (WM_NCCREATE) gives the handle,
  // before CreateWindowExW returns it.
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  ~WinHost() override {
    if (hwnd_ != nullptr) {
      if (in_system_loop_) WinEventPump::Get()->ExitSystemLoop(hwnd_);
      // Messages sent while the window goes (focus, capture) must not
      // reach a host that is half gone.
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      DestroyWindow(hwnd_);
    }
    if (big_icon_ != nullptr) DestroyIcon(big_icon_);
    if (small_icon_ != nullptr) DestroyIcon(small_icon_);
  }

  // Opens the (hidden) window at `bounds`, scaled for its monitor.
  bool Create(const UiRect& bounds) {
    hwnd_ = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, L"",
                            WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, bounds.left, bounds.top,
                            std::max(1, bounds.width()), std::max(1, bounds.height()), nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
    if (hwnd_ == nullptr) return false;
    clipboard_ = std::make_unique<win::WinClipboard>(hwnd_);
    // The input method belongs to text fields, which switch it on while
    // they have the focus.
    win::SwitchInputMethod(hwnd_, false);
    const double requested = GetRequestedUiScale();
    fixed_scale_ = requested > 0;
    scale_ = fixed_scale_ ? requested : ScaleForDpi(windowDpi(hwnd_));
    SetBounds(bounds);
    return true;
  }

  void SetBounds(const UiRect& b) override {
    placed_ = b;
    device_ = ToDevice(b);
    SetWindowPos(hwnd_, nullptr, device_.left, device_.top, device_.right - device_.left,
                 device_.bottom - device_.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  UiRect GetBounds() const override {
    RECT r;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    // A minimised window sits far off the screen; where it comes back to
    // is its place (workspace coordinates, the screen's on a usual
    // desktop).
    if (IsIconic(hwnd_) && GetWindowPlacement(hwnd_, &placement)) {
      r = placement.rcNormalPosition;
    } else if (!GetWindowRect(hwnd_, &r)) {
      return placed_;
    }
    // Unmoved since SetBounds: the layout rectangle as given, not one
    // rounded back from device pixels.
    if (EqualRect(&r, &device_)) return placed_;
    const int left = FromDevice(r.left), top = FromDevice(r.top);
    return UiRect{left, top, left + FromDevice(r.right - r.left),
                  top + FromDevice(r.bottom - r.top)};
  }
  void Show(bool show) override { ShowWindow(hwnd_, show ? SW_SHOWNA : SW_HIDE); }
  void SetOwner(WindowHost* owner) override {
    const auto* owning = dynamic_cast<const WinHost*>(owner);
    if (owning == nullptr || owning->hwnd_ == nullptr) return;
    // A top-level window's "parent" slot holds its owner.
    SetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owning->hwnd_));
    const LONG_PTR ex = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
    SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW));
  }
  bool IsShown() const override { return IsWindowVisible(hwnd_) != FALSE; }
  void Minimize() override { ShowWindow(hwnd_, SW_MINIMIZE); }
  void Restore() override { ShowWindow(hwnd_, SW_RESTORE); }
  bool IsMinimized() const override { return IsIconic(hwnd_) != FALSE; }
  void SetTitle(const std::string& utf8) override {
    SetWindowTextW(hwnd_, common::utf8ToWide(utf8).c_str());
  }
  void SetOpacity(double opacity) override {
    opacity_ = std::clamp(opacity, 0.0, 1.0);
    ApplyLayering();
    if (layering_ == Layering::kPerPixel) UpdateLayered();
    if (layering_ == Layering::kWhole) SetLayeredWindowAttributes(hwnd_, 0, Alpha(), LWA_ALPHA);
  }
  void SetIcon(cairo_surface_t* icon) override {
    HICON big = win::IconFromSurface(icon, GetSystemMetrics(SM_CXICON));
    HICON small = win::IconFromSurface(icon, GetSystemMetrics(SM_CXSMICON));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (big_icon_ != nullptr) DestroyIcon(big_icon_);
    if (small_icon_ != nullptr) DestroyIcon(small_icon_);
    big_icon_ = big;
    small_icon_ = small;
  }
  void Focus() override {
    if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
  }
  void SetTransparent(bool transparent) override {
    transparent_ = transparent;
    ApplyLayering();
  }
  void Present(cairo_surface_t* frame) override {
    const bool per_pixel = layering_ == Layering::kPerPixel;
    if (!frame_.Assign(frame, per_pixel)) return;
    if (per_pixel) {
      UpdateLayered();
    } else if (!painting_) {
      HDC dc = GetDC(hwnd_);
      BitBlt(dc, 0, 0, frame_.width(), frame_.height(), frame_.dc(), 0, 0, SRCCOPY);
      ReleaseDC(hwnd_, dc);
    }
  }
  UiSize ScreenSize() const override {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info)) return {};
    return UiSize{FromDevice(info.rcMonitor.right - info.rcMonitor.left),
                  FromDevice(info.rcMonitor.bottom - info.rcMonitor.top)};
  }
  bool IsHeadless() const override { return false; }
  double GetScale() const override { return scale_; }
  Clipboard* GetClipboard() override { return clipboard_.get(); }
  void SetTextInput(bool active, const UiRect& caret) override {
    if (active != text_input_) win::SwitchInputMethod(hwnd_, active);
    text_input_ = active;
    caret_ = caret;
    if (active) win::PlaceInputMethod(hwnd_, ToDevice(caret_));
  }
  bool IsTextInputActive() const override { return text_input_; }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  enum class Layering {
    kNone,      // plain window, WM_PAINT
    kWhole,     // one alpha for the window (SetOpacity below 1)
    kPerPixel,  // UpdateLayeredWindow (SetTransparent)
  };

  double ScaleForDpi(UINT dpi) const {
    return std::clamp(dpi / kLayoutDpi, kMinUiScale, kMaxUiScale);
  }
  int FromDevice(int v) const { return static_cast<int>(std::lround(v / scale_)); }
  RECT ToDevice(const UiRect& r) const {
    // Sizes as the window draws its frames (CWindowWnd rounds up), so a
    // frame always fills the window exactly.
    const int left = static_cast<int>(std::lround(r.left * scale_));
    const int top = static_cast<int>(std::lround(r.top * scale_));
    return RECT{left, top, left + std::max(1, static_cast<int>(std::ceil(r.width() * scale_))),
                top + std::max(1, static_cast<int>(std::ceil(r.height() * scale_)))};
  }
  BYTE Alpha() const { return static_cast<BYTE>(std::lround(opacity_ * 255)); }

  // Switches WS_EX_LAYERED to the mode transparency and opacity ask for. A
  // window that had one mode must leave layering before taking the other:
  // Windows keeps whichever of SetLayeredWindowAttributes and
  // UpdateLayeredWindow was called first.
  void ApplyLayering() {
    const Layering want = transparent_     ? Layering::kPerPixel
                          : opacity_ < 1.0 ? Layering::kWhole
                                           : Layering::kNone;
    if (want == layering_) return;
    const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) & ~WS_EX_LAYERED;
    if (layering_ != Layering::kNone) SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, style);
    if (want != Layering::kNone) SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, style | WS_EX_LAYERED);
    layering_ = want;
    if (want == Layering::kWhole) SetLayeredWindowAttributes(hwnd_, 0, Alpha(), LWA_ALPHA);
    // The kept frame was made for the other mode.
    frame_.Clear();
    if (want == Layering::kNone) InvalidateRect(hwnd_, nullptr, FALSE);
  }
  void UpdateLayered() {
    if (frame_.empty()) return;
    POINT origin{0, 0};
    SIZE size{frame_.width(), frame_.height()};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, Alpha(), AC_SRC_ALPHA};
    UpdateLayeredWindow(hwnd_, nullptr, nullptr, &size, frame_.dc(), &origin, 0, &blend, ULW_ALPHA);
  }
  void Paint();
  LRESULT OnMouse(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnImeComposition(LPARAM lparam);
  void OnDpiChanged(UINT dpi, const RECT& suggested);

  HostDelegate* delegate_;
  HWND hwnd_ = nullptr;
  double scale_ = 1;          // device pixels per layout pixel
  bool fixed_scale_ = false;  // asked for (SetUiScale), not the monitor's
  UiRect placed_;             // the bounds last set, in layout pixels
  RECT device_{};             // ... and where they put the window
  win::FrameBitmap frame_;
  bool painting_ = false;  // inside WM_PAINT: Present only keeps the frame
  bool transparent_ = false;
  double opacity_ = 1;
  Layering layering_ = Layering::kNone;
  bool tracking_leave_ = false;
  int wheel_rest_ = 0;  // part of a notch from a fine-grained wheel
  bool in_system_loop_ = false;
  win::CharJoiner chars_;
  bool text_input_ = false;
  UiRect caret_;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  std::unique_ptr<win::WinClipboard> clipboard_;
};

void WinHost::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT client;
  GetClientRect(hwnd_, &client);
  // The kept frame serves as long as it fits the window; a window that
  // changed size (or never had a frame) is drawn afresh.
  if (frame_.empty() || frame_.width() != client.right || frame_.height() != client.bottom) {
    painting_ = true;
    delegate_->OnHostExposed();
    painting_ = false;
  }
  if (!frame_.empty()) {
    BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
           ps.rcPaint.bottom - ps.rcPaint.top, frame_.dc(), ps.rcPaint.left, ps.rcPaint.top,
           SRCCOPY);
  }
  EndPaint(hwnd_, &ps);
}

LRESULT WinHost::OnMouse(UINT message, WPARAM wparam, LPARAM lparam) {
  POINT p = pointOf(lparam);
  HostDelegate* delegate = delegate_;
  switch (message) {
    case WM_MOUSEMOVE:
      if (!tracking_leave_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
        tracking_leave_ = TrackMouseEvent(&track) != FALSE;
      }
      delegate->OnHostMouse(MouseEvent::kMove, FromDevice(p.x), FromDevice(p.y), 0);
      break;
    case WM_MOUSELEAVE:
      tracking_leave_ = false;
      delegate->OnHostMouse(MouseEvent::kLeave, -1, -1, 0);
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // Held outside the window, the button's release still comes here, so
      // a pressed control never stays pressed.
      SetCapture(hwnd_);
      delegate->OnHostMouse(MouseEvent::kDown, FromDevice(p.x), FromDevice(p.y), 0);
      break;
    case WM_LBUTTONUP:
      if (GetCapture() == hwnd_) ReleaseCapture();
      delegate->OnHostMouse(MouseEvent::kUp, FromDevice(p.x), FromDevice(p.y), 0);
      break;
    case WM_MOUSEWHEEL: {
      wheel_rest_ += GET_WHEEL_DELTA_WPARAM(wparam);
      const int notches = wheel_rest_ / WHEEL_DELTA;
      wheel_rest_ %= WHEEL_DELTA;
      ScreenToClient(hwnd_, &p);  // the wheel's point is the screen's
      if (notches != 0) {
        delegate->OnHostMouse(MouseEvent::kWheel, FromDevice(p.x), FromDevice(p.y), notches);
      }
      break;
    }
    default: break;
  }
  return 0;
}

LRESULT WinHost::OnImeComposition(LPARAM lparam) {
  HostDelegate* delegate = delegate_;
  // Handled here entirely: passed on, Windows would send the result again
  // as WM_IME_CHAR and WM_CHAR.
  if ((lparam & GCS_RESULTSTR) != 0) {
    std::string result = win::ImeString(hwnd_, GCS_RESULTSTR, nullptr);
    if (!result.empty()) delegate->OnHostText(result);
  }
  int cursor = 0;
  std::string composition =
      (lparam & GCS_COMPSTR) != 0 ? win::ImeString(hwnd_, GCS_COMPSTR, &cursor) : std::string();
  delegate->OnHostTextEditing(composition, cursor);
  return 0;
}

void WinHost::OnDpiChanged(UINT dpi, const RECT& suggested) {
  if (!fixed_scale_) scale_ = ScaleForDpi(dpi);
  // Windows' place for the window on its new monitor, at our size for the
  // layout (its own size is the old one scaled, rounded its way).
  const int width = placed_.width(), height = placed_.height();
  const int left = FromDevice(suggested.left), top = FromDevice(suggested.top);
  placed_ = UiRect{left, top, left + width, top + height};
  device_ = ToDevice(placed_);
  device_ = RECT{suggested.left, suggested.top, suggested.left + (device_.right - device_.left),
                 suggested.top + (device_.bottom - device_.top)};
  SetWindowPos(hwnd_, nullptr, device_.left, device_.top, device_.right - device_.left,
               device_.bottom - device_.top, SWP_NOZORDER | SWP_NOACTIVATE);
  if (text_input_) win::PlaceInputMethod(hwnd_, ToDevice(caret_));
  delegate_->OnHostExposed();
}

LRESULT WinHost::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEWHEEL: return OnMouse(message, wparam, lparam);
    case WM_NCHITTEST: {
      POINT p = pointOf(lparam);
      ScreenToClient(hwnd_, &p);
      return delegate_->OnHostHitCaption(FromDevice(p.x), FromDevice(p.y)) ? HTCAPTION : HTCLIENT;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (int key = win::KeyFromVirtualKey(wparam); key != 0) {
        delegate_->OnHostKeyEvent(KeyEvent{key, win::HeldModifiers()});
        if (message == WM_KEYDOWN) return 0;
      }
      break;  // Alt+F4 and the like go on to Windows
    case WM_CHAR: {
      std::string text;
      if (text_input_ && chars_.Add(static_cast<wchar_t>(wparam), &text))
        delegate_->OnHostText(text);
      return 0;
    }
    case WM_SYSCHAR: return 0;  // Alt+letter: no menu to open, no beep
    case WM_SYSCOMMAND:
      // A lone Alt would put this menu-less window in menu mode and eat
      // the next key.
      if ((wparam & 0xFFF0) == SC_KEYMENU) return 0;
      break;
    case WM_IME_SETCONTEXT:
      // The composition is drawn inside the text field itself.
      lparam &= ~static_cast<LPARAM>(ISC_SHOWUICOMPOSITIONWINDOW);
      break;
    case WM_IME_STARTCOMPOSITION: win::PlaceInputMethod(hwnd_, ToDevice(caret_)); return 0;
    case WM_IME_COMPOSITION: return OnImeComposition(lparam);
    case WM_IME_ENDCOMPOSITION: delegate_->OnHostTextEditing(std::string(), 0); return 0;
    case WM_CLOSE: delegate_->OnHostCloseRequest(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(); return 0;
    case WM_DPICHANGED:
      OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_ENTERSIZEMOVE:
    case WM_ENTERMENULOOP:
      in_system_loop_ = true;
      WinEventPump::Get()->EnterSystemLoop(hwnd_);
      break;
    case WM_EXITSIZEMOVE:
    case WM_EXITMENULOOP:
      in_system_loop_ = false;
      WinEventPump::Get()->ExitSystemLoop(hwnd_);
      break;
    case WM_TIMER:
      if (WinEventPump::Get()->OnTimer(hwnd_, wparam)) return 0;
      break;
    default: break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* host =
        static_cast<WinHost*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
    host->Attach(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
  }
  auto* host = reinterpret_cast<WinHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Before WM_NCCREATE and while the host goes, no host answers.
  if (host == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return host->HandleMessage(message, wparam, lparam);
}

}  // namespace

bool HasDesktop() { return true; }

std::unique_ptr<WindowHost> CreateDesktopHost(HostDelegate* delegate, const UiRect& bounds) {
  static const ATOM window_class = registerWindowClass();
  if (window_class == 0) {
    LOG(WARNING) << " ui: cannot register the window class, error " << GetLastError();
    return nullptr;
  }
  auto host = std::make_unique<WinHost>(delegate);
  if (!host->Create(bounds)) {
    LOG(WARNING) << " ui: cannot create a window, error " << GetLastError();
    return nullptr;
  }
  MessageLoop::Get()->SetEventPump(WinEventPump::Get());
  return host;
}

}  // namespace ui
