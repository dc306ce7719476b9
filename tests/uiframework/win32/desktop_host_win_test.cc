// The Win32 window host under Wine, on the private X server ctest gives
// each test: what the screen shows of presented frames (opaque and with
// per-pixel alpha), real input from SendInput turned into the framework's
// events in layout pixels, the caption's hit test and drag, the input
// method, the clipboard, DPI changes and icons, and the message loop
// sleeping in the message queue until something wakes it.

#include <windows.h>
// After windows.h, whose types it uses.
#include <imm.h>
// windows.h's name for DispatchMessageW would rename the framework's
// method of that name in the headers below.
#undef DispatchMessage

#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../test_archive.h"
#include "../test_window.h"
#include "uiframework/host.h"
#include "uiframework/message_loop.h"
#include "uiframework/win32/event_pump_win.h"

namespace ui {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Mouse {
  MouseEvent event;
  int x, y, wheel;
  bool operator==(const Mouse&) const = default;
};

// Records what the host reports; on exposure it presents `frame` again, as
// a window repaints.
class RecordingDelegate : public HostDelegate {
 public:
  void OnHostMouse(MouseEvent event, int x, int y, int wheel) override {
    mouse.push_back(Mouse{event, x, y, wheel});
  }
  void OnHostKey(int key) override { keys.push_back(KeyEvent{key, kModNone}); }
  void OnHostKeyEvent(const KeyEvent& event) override { keys.push_back(event); }
  void OnHostText(const std::string& utf8) override { text += utf8; }
  void OnHostTextEditing(const std::string& utf8, int cursor) override {
    editing.emplace_back(utf8, cursor);
  }
  void OnHostCloseRequest() override { ++close_requests; }
  bool OnHostHitCaption(int x, int y) override { return caption.contains(x, y); }
  void OnHostExposed() override {
    ++exposed;
    if (host != nullptr && frame != nullptr) host->Present(frame);
  }
  bool Saw(MouseEvent event) const {
    for (const Mouse& m : mouse) {
      if (m.event == event) return true;
    }
    return false;
  }

  WindowHost* host = nullptr;
  cairo_surface_t* frame = nullptr;
  UiRect caption;
  std::vector<Mouse> mouse;
  std::vector<KeyEvent> keys;
  std::string text;
  std::vector<std::pair<std::string, int>> editing;
  int close_requests = 0;
  int exposed = 0;
};

// Records the messages of one loop handle.
class Recorder : public MessageTarget {
 public:
  intptr_t DispatchMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    (void)lparam;
    if (on_message) on_message(message, wparam);
    return 0;
  }
  std::function<void(uint32_t, uintptr_t)> on_message;
};

// A frame whose left half is `left` and right half `right` (premultiplied
// ARGB).
cairo_surface_t* halves(int width, int height, uint32_t left, uint32_t right) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) row[x] = x < width / 2 ? left : right;
  }
  cairo_surface_mark_dirty(s);
  return s;
}

// 0xRRGGBB of the screen at (x, y): what the X server shows there.
uint32_t screenColor(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

INPUT mouseInput(DWORD flags, int x = 0, int y = 0, int data = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  if ((flags & MOUSEEVENTF_ABSOLUTE) != 0) {
    in.mi.dwFlags |= MOUSEEVENTF_MOVE;
    in.mi.dx = x * 65536 / GetSystemMetrics(SM_CXSCREEN);
    in.mi.dy = y * 65536 / GetSystemMetrics(SM_CYSCREEN);
  }
  in.mi.mouseData = static_cast<DWORD>(data);
  return in;
}

INPUT keyInput(WORD vk, DWORD flags = 0, WORD unit = 0) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = unit;
  in.ki.dwFlags = flags;
  return in;
}

// Runs the UI loop until `done` or `ms` pass; returns whether `done` held.
bool waitFor(const std::function<bool()>& done, int ms = 5000) {
  const Clock::time_point limit = Clock::now() + milliseconds(ms);
  while (!done()) {
    if (Clock::now() > limit) return false;
    MessageLoop::Get()->RunPending();
    // Screen contents change without a message; look again soon.
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return true;
}

class DesktopHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiScale(0);
    MessageLoop::Get()->ResetQuit();
  }
  void TearDown() override {
    for (cairo_surface_t* frame : frames_) cairo_surface_destroy(frame);
    SetUiScale(0);
  }
  // A shown desktop host at `bounds` presenting `frame`, and its window.
  std::unique_ptr<WindowHost> Open(RecordingDelegate* delegate, const UiRect& bounds,
                                   cairo_surface_t* frame, bool transparent = false) {
    std::unique_ptr<WindowHost> host = CreateDesktopHost(delegate, bounds);
    if (host == nullptr) return nullptr;
    const std::wstring title = L"host test " + std::to_wstring(++windows_);
    host->SetTitle(std::string(title.begin(), title.end()));
    hwnd_ = FindWindowW(nullptr, title.c_str());
    delegate->host = host.get();
    delegate->frame = Keep(frame);
    host->SetTransparent(transparent);
    host->Show(true);
    host->Present(frame);
    return host;
  }
  cairo_surface_t* Keep(cairo_surface_t* frame) {
    frames_.push_back(frame);
    return frame;
  }
  // Sends one input event and runs the loop until `seen`.
  bool Send(INPUT in, const std::function<bool()>& seen) {
    return SendInput(1, &in, sizeof in) == 1 && waitFor(seen);
  }

  HWND hwnd_ = nullptr;
  int windows_ = 0;
  std::vector<cairo_surface_t*> frames_;
};

// The frame shows where the window is, pixels Cairo left clear over white
// (not black); after a minimise and restore the kept frame comes back
// without a new render.
TEST_F(DesktopHostTest, PresentedFrameIsWhatTheScreenShows) {
  RecordingDelegate d;
  cairo_surface_t* frame = halves(200, 120, 0xFFFF0000, 0xFF0000FF);
  // A cleared 10 x 10 corner, as a skin's rounded corner leaves it.
  uint32_t* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(frame));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) data[y * 200 + x] = 0;
  }
  cairo_surface_mark_dirty(frame);
  auto host = Open(&d, UiRect{100, 100, 300, 220}, frame);
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(host->IsShown());
  EXPECT_DOUBLE_EQ(host->GetScale(), 1.0);
  auto shown = [] {
    return screenColor(150, 160) == 0xFF0000 && screenColor(250, 160) == 0x0000FF &&
           screenColor(103, 103) == 0xFFFFFF;
  };
  EXPECT_TRUE(waitFor(shown));

  const int renders = d.exposed;
  d.frame = Keep(halves(200, 120, 0xFF00FF00, 0xFF00FF00));  // a new render would be green
  host->Minimize();
  EXPECT_TRUE(waitFor([&] { return host->IsMinimized(); }));
  EXPECT_EQ(host->GetBounds(), (UiRect{100, 100, 300, 220}));  // not the icon's place
  host->Restore();
  EXPECT_TRUE(waitFor([&] { return !host->IsMinimized(); }));
  EXPECT_TRUE(waitFor(shown));
  EXPECT_EQ(d.exposed, renders);
}

// A transparent window (the splash) shows what lies behind where its frame
// is clear, and its own pixels where they are opaque; its opacity fades the
// whole window.
TEST_F(DesktopHostTest, TransparentPixelsShowWhatLiesBehind) {
  RecordingDelegate behind, splash;
  auto back = Open(&behind, UiRect{100, 100, 300, 220}, halves(200, 120, 0xFF00FF00, 0xFF00FF00));
  ASSERT_NE(back, nullptr);
  ASSERT_TRUE(waitFor([] { return screenColor(150, 160) == 0x00FF00; }));
  auto front = Open(&splash, UiRect{100, 100, 300, 220}, halves(200, 120, 0, 0xFFFF0000), true);
  ASSERT_NE(front, nullptr);
  EXPECT_TRUE(waitFor(
      [] { return screenColor(150, 160) == 0x00FF00 && screenColor(250, 160) == 0xFF0000; }));
  EXPECT_NE(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) & WS_EX_LAYERED, 0);

  front->SetOpacity(0);
  EXPECT_TRUE(waitFor([] { return screenColor(250, 160) == 0x00FF00; }));
  front->SetOpacity(1);
  EXPECT_TRUE(waitFor([] { return screenColor(250, 160) == 0xFF0000; }));
}

// At scale 2 the window is twice its layout size on the screen, and the
// pointer reaches the delegate in layout pixels; a press keeps the pointer
// captured, so the release outside the window still arrives.
TEST_F(DesktopHostTest, MouseArrivesInLayoutPixelsAndStaysCapturedWhileHeld) {
  SetUiScale(2.0);
  RecordingDelegate d;
  auto host = Open(&d, UiRect{50, 50, 200, 150}, halves(300, 200, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  EXPECT_DOUBLE_EQ(host->GetScale(), 2.0);
  RECT r;
  ASSERT_TRUE(GetWindowRect(hwnd_, &r));
  EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
            (std::vector<LONG>{100, 100, 400, 300}));
  EXPECT_EQ(host->GetBounds(), (UiRect{50, 50, 200, 150}));
  const UiSize screen = host->ScreenSize();
  EXPECT_EQ(screen.cx, GetSystemMetrics(SM_CXSCREEN) / 2);
  EXPECT_EQ(screen.cy, GetSystemMetrics(SM_CYSCREEN) / 2);
  host->Focus();

  auto last = [&] { return d.mouse.empty() ? Mouse{MouseEvent::kLeave, 0, 0, 0} : d.mouse.back(); };
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_ABSOLUTE, 160, 140), [&] {
    return last() == Mouse{MouseEvent::kMove, 30, 20, 0};
  }));
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_LEFTDOWN), [&] {
    return last() == Mouse{MouseEvent::kDown, 30, 20, 0};
  }));
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_ABSOLUTE, 900, 700),
                   [&] { return d.Saw(MouseEvent::kMove) && d.mouse.size() >= 3; }));
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_LEFTUP), [&] {
    return last() == Mouse{MouseEvent::kUp, 400, 300, 0};
  }));
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_ABSOLUTE, 160, 140), [&] {
    return last() == Mouse{MouseEvent::kMove, 30, 20, 0};
  }));
  EXPECT_TRUE(Send(mouseInput(MOUSEEVENTF_WHEEL, 0, 0, -2 * WHEEL_DELTA), [&] {
    return last() == Mouse{MouseEvent::kWheel, 30, 20, -2};
  }));
}

// Keys carry the modifiers held; typed text arrives as UTF-8 (a character
// beyond the BMP comes as two WM_CHARs) only while a text field asked for
// it; Alt+F4 asks to close without closing.
TEST_F(DesktopHostTest, KeysCarryModifiersAndTextArrivesAsUtf8) {
  RecordingDelegate d;
  auto host = Open(&d, UiRect{100, 100, 300, 220}, halves(200, 120, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  host->Focus();
  ASSERT_TRUE(waitFor([&] { return GetFocus() == hwnd_; }));
  const std::vector<INPUT> keys = {keyInput(VK_CONTROL),
                                   keyInput('A'),
                                   keyInput('A', KEYEVENTF_KEYUP),
                                   keyInput(VK_CONTROL, KEYEVENTF_KEYUP),
                                   keyInput(VK_SHIFT),
                                   keyInput(VK_LEFT),
                                   keyInput(VK_LEFT, KEYEVENTF_KEYUP),
                                   keyInput(VK_SHIFT, KEYEVENTF_KEYUP),
                                   keyInput(VK_F5),
                                   keyInput(VK_F5, KEYEVENTF_KEYUP),
                                   keyInput(VK_DELETE),
                                   keyInput(VK_DELETE, KEYEVENTF_KEYUP)};
  for (const INPUT& in : keys) EXPECT_TRUE(Send(in, [] { return true; }));
  ASSERT_TRUE(waitFor([&] { return d.keys.size() >= 3; }));
  ASSERT_EQ(d.keys.size(), 3u);
  EXPECT_EQ(d.keys[0].key, 'A');
  EXPECT_EQ(d.keys[0].modifiers, kModCtrl);
  EXPECT_EQ(d.keys[1].key, kKeyLeft);
  EXPECT_EQ(d.keys[1].modifiers, kModShift);
  EXPECT_EQ(d.keys[2].key, kKeyDelete);
  EXPECT_EQ(d.keys[2].modifiers, kModNone);

  auto type = [&](wchar_t unit) {
    return Send(keyInput(0, KEYEVENTF_UNICODE, unit), [] { return true; }) &&
           Send(keyInput(0, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, unit), [] { return true; });
  };
  host->SetTextInput(true, UiRect{10, 10, 12, 30});
  EXPECT_TRUE(host->IsTextInputActive());
  for (wchar_t unit : std::wstring(L"\xD83D\xDE00\x00E9")) EXPECT_TRUE(type(unit));
  EXPECT_TRUE(waitFor([&] { return d.text == "\xF0\x9F\x98\x80\xC3\xA9"; })) << d.text;
  host->SetTextInput(false, UiRect{});
  EXPECT_TRUE(type(L'x'));
  // The x's WM_CHAR is a posted message, so it is handled before the next
  // key, which comes from the input queue.
  EXPECT_TRUE(Send(keyInput(VK_DELETE), [&] { return d.keys.size() == 4; }));
  EXPECT_TRUE(Send(keyInput(VK_DELETE, KEYEVENTF_KEYUP), [] { return true; }));
  host->SetTextInput(true, UiRect{10, 10, 12, 30});
  EXPECT_TRUE(type(L'y'));
  EXPECT_TRUE(waitFor([&] { return d.text.size() > 6; }));
  EXPECT_EQ(d.text, "\xF0\x9F\x98\x80\xC3\xA9y");

  for (const INPUT& in : {keyInput(VK_MENU), keyInput(VK_F4), keyInput(VK_F4, KEYEVENTF_KEYUP),
                          keyInput(VK_MENU, KEYEVENTF_KEYUP)}) {
    EXPECT_TRUE(Send(in, [] { return true; }));
  }
  EXPECT_TRUE(waitFor([&] { return d.close_requests == 1; }));
  EXPECT_TRUE(IsWindow(hwnd_));
}

// Points of the skin's caption answer HTCAPTION, others HTCLIENT; dragging
// the caption moves the window, and the framework's timers go on firing
// while Windows runs its own move loop.
TEST_F(DesktopHostTest, CaptionDragsTheWindowWhileTheLoopRuns) {
  SetUiScale(2.0);
  RecordingDelegate d;
  d.caption = UiRect{0, 0, 100, 15};
  auto host = Open(&d, UiRect{50, 50, 150, 110}, halves(200, 120, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(100 + 150, 100 + 20)), HTCAPTION);
  EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(100 + 150, 100 + 40)), HTCLIENT);
  EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(100 + 210, 100 + 20)), HTCLIENT);

  Recorder ticker;
  std::atomic<int> ticks{0};
  ticker.on_message = [&](uint32_t message, uintptr_t) { ticks += message == kWmTimer; };
  MessageLoop* loop = MessageLoop::Get();
  const WindowHandle handle = loop->Register(&ticker);
  loop->SetTimer(handle, 1, 10);
  std::atomic<bool> dragged{false};
  int ticks_held = 0;
  std::thread mover([&] {
    auto send = [](INPUT in) { SendInput(1, &in, sizeof in); };
    // The button stays down until the loop's timer has fired a few times
    // inside Windows' move loop.
    auto hold = [&] {
      const int from = ticks;
      const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
      while (ticks < from + 3 && Clock::now() < limit) std::this_thread::yield();
      return ticks - from;
    };
    send(mouseInput(MOUSEEVENTF_ABSOLUTE, 120, 110));
    hold();
    send(mouseInput(MOUSEEVENTF_LEFTDOWN));
    ticks_held += hold();
    send(mouseInput(MOUSEEVENTF_ABSOLUTE, 200, 170));
    ticks_held += hold();
    send(mouseInput(MOUSEEVENTF_LEFTUP));
    dragged = true;
  });
  EXPECT_TRUE(waitFor([&] { return dragged.load() && host->GetBounds().left == 90; }));
  mover.join();
  loop->Unregister(handle);
  EXPECT_EQ(host->GetBounds(), (UiRect{90, 80, 190, 140}));
  EXPECT_GE(ticks_held, 6);
  EXPECT_FALSE(d.Saw(MouseEvent::kDown));  // the caption is Windows', not a control's
}

// Forwards to the real Win32 pump, counting the loop's rounds and telling
// when the loop has gone to sleep.
class ObservedPump : public EventPump {
 public:
  explicit ObservedPump(EventPump* real) : real_(real) {}
  void Pump() override {
    ++pumps;
    real_->Pump();
  }
  bool NeedsPolling() const override { return real_->NeedsPolling(); }
  bool WaitForEvents(Clock::time_point until) override {
    waiting = true;
    const bool waited = real_->WaitForEvents(until);
    waiting = false;
    return waited;
  }
  void Wake() override { real_->Wake(); }

  std::atomic<bool> waiting{false};
  int pumps = 0;

 private:
  EventPump* real_;
};

// A message posted by a worker while the loop sleeps is handled at once,
// not at the end of the loop's half-second wait; an idle loop does not
// wake to poll, and its sleep counts as no stall.
TEST_F(DesktopHostTest, APostFromAnotherThreadWakesTheSleepingLoop) {
  RecordingDelegate d;
  auto host = Open(&d, UiRect{100, 100, 300, 220}, halves(200, 120, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(waitFor([] { return screenColor(150, 160) == 0x808080; }));
  ObservedPump pump(win::WinEventPump::Get());
  MessageLoop* loop = MessageLoop::Get();
  loop->SetEventPump(&pump);
  Recorder target;
  std::atomic<int> got{0};
  Clock::time_point posted_at, got_at;
  target.on_message = [&](uint32_t message, uintptr_t) {
    if (message != kWmUser + 1) return;
    got_at = Clock::now();
    ++got;
  };
  const WindowHandle handle = loop->Register(&target);
  for (int i = 1; i <= 5; ++i) {
    std::thread poster([&] {
      const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
      while (!pump.waiting && Clock::now() < limit) std::this_thread::yield();
      posted_at = Clock::now();
      loop->PostUiMessage(handle, kWmUser + 1, 0, 0);
    });
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
    loop->RunUntil([&] { return got == i || Clock::now() > limit; });
    poster.join();
    ASSERT_EQ(got, i);
    EXPECT_LT(got_at - posted_at, milliseconds(250)) << "post " << i;
  }

  bool fired = false;
  target.on_message = [&](uint32_t message, uintptr_t) { fired = fired || message == kWmTimer; };
  loop->SetTimer(handle, 7, 300);
  loop->RunPending();
  pump.pumps = 0;
  loop->ResetStalls();
  loop->RunUntil([&] { return fired; });
  EXPECT_LE(pump.pumps, 6);  // polling every 8 ms would be some 37
  EXPECT_LT(loop->LongestStall().length, milliseconds(150));
  loop->Unregister(handle);
  loop->SetEventPump(win::WinEventPump::Get());
}

// A modal box over real windows: its nested loop dispatches the owner's
// timers and posted messages, and ends with the close that a worker
// posted.
TEST_F(DesktopHostTest, ModalBoxRunsItsLoopOverRealWindows) {
  SetSkinArchiveOverride(testing_archive::make(
      {{"w.xml",
        "<Window size=\"200,100\"><VerticalLayout><Button name=\"b\"/></VerticalLayout></Window>"}}));
  testing_window::RecordingWindow owner("w.xml"), box("w.xml");
  ASSERT_TRUE(owner.Create(0, L"owner", 100, 100, 200, 100));
  owner.ShowWindow(true);
  owner.SetTimer(1921, 20);
  ASSERT_TRUE(box.Create(owner.GetHWND(), L"box", 150, 150, 200, 100));
  // The box is the owner's: above it, without a taskbar button of its own.
  const HWND owner_hwnd = FindWindowW(nullptr, L"owner"), box_hwnd = FindWindowW(nullptr, L"box");
  ASSERT_NE(box_hwnd, nullptr);
  EXPECT_EQ(GetWindow(box_hwnd, GW_OWNER), owner_hwnd);
  EXPECT_EQ(GetWindowLongPtrW(box_hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  EXPECT_NE(GetWindowLongPtrW(owner_hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  // The worker posts once the box's loop has run a while: the main thread
  // is inside ShowModal from before the first tick.
  Recorder ticker;
  std::atomic<int> ticks{0};
  ticker.on_message = [&](uint32_t message, uintptr_t) { ticks += message == kWmTimer; };
  const WindowHandle ticking = MessageLoop::Get()->Register(&ticker);
  MessageLoop::Get()->SetTimer(ticking, 1, 20);
  std::thread worker([&] {
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
    while (ticks < 5 && Clock::now() < limit) std::this_thread::yield();
    MessageLoop::Get()->PostUiMessage(owner.GetHWND(), kWmUser + 1925, 0, 0);
    MessageLoop::Get()->PostUiMessage(box.GetHWND(), kWmClose, 3, 0);
  });
  EXPECT_EQ(box.ShowModal(), 3);
  worker.join();
  MessageLoop::Get()->Unregister(ticking);
  int owner_ticks = 0;
  bool custom = false;
  for (const auto& [message, w] : owner.messages) {
    owner_ticks += message == kWmTimer && w == 1921;
    custom = custom || message == kWmUser + 1925;
  }
  EXPECT_GE(owner_ticks, 3);
  EXPECT_TRUE(custom);
  owner.KillTimer(1921);
  SetSkinArchiveOverride(nullptr);
}

// The input method is on only for text fields, its windows go to the
// caret (in device pixels), and a composition shows inline before its
// result arrives as text.
TEST_F(DesktopHostTest, InputMethodFollowsTheCaretAndComposesInline) {
  SetUiScale(2.0);
  RecordingDelegate d;
  auto host = Open(&d, UiRect{50, 50, 200, 150}, halves(300, 200, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  host->Focus();
  EXPECT_EQ(ImmGetContext(hwnd_), nullptr);

  host->SetTextInput(true, UiRect{10, 20, 12, 36});
  HIMC imc = ImmGetContext(hwnd_);
  ASSERT_NE(imc, nullptr);
  CANDIDATEFORM candidate{};
  ASSERT_TRUE(ImmGetCandidateWindow(imc, 0, &candidate));
  EXPECT_EQ(candidate.dwStyle, static_cast<DWORD>(CFS_EXCLUDE));
  EXPECT_EQ((std::vector<LONG>{candidate.rcArea.left, candidate.rcArea.top, candidate.rcArea.right,
                               candidate.rcArea.bottom}),
            (std::vector<LONG>{20, 40, 24, 72}));
  COMPOSITIONFORM composition{};
  ASSERT_TRUE(ImmGetCompositionWindow(imc, &composition));
  EXPECT_EQ(composition.ptCurrentPos.x, 20);
  EXPECT_EQ(composition.ptCurrentPos.y, 40);

  const std::wstring reading = L"\x306B\x307B";  // にほ
  ASSERT_TRUE(ImmSetCompositionStringW(imc, SCS_SETSTR, const_cast<wchar_t*>(reading.c_str()),
                                       static_cast<DWORD>(reading.size() * sizeof(wchar_t)),
                                       nullptr, 0));
  EXPECT_TRUE(waitFor([&] {
    return !d.editing.empty() && d.editing.front() == std::make_pair(std::string("にほ"), 2);
  }));
  ASSERT_TRUE(ImmNotifyIME(imc, NI_COMPOSITIONSTR, CPS_COMPLETE, 0));
  EXPECT_TRUE(waitFor([&] { return d.text == "にほ"; })) << d.text;
  EXPECT_TRUE(waitFor([&] { return d.editing.back().first.empty(); }));
  ImmReleaseContext(hwnd_, imc);

  host->SetTextInput(false, UiRect{});
  EXPECT_FALSE(host->IsTextInputActive());
  EXPECT_EQ(ImmGetContext(hwnd_), nullptr);
}

// Copy and paste go through the Windows clipboard, which other programs
// read and write.
TEST_F(DesktopHostTest, ClipboardIsTheSystemClipboard) {
  RecordingDelegate d;
  auto host = Open(&d, UiRect{100, 100, 300, 220}, halves(200, 120, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  Clipboard* clipboard = host->GetClipboard();
  clipboard->SetText(L"copied \xD83D\xDE00");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(data))), L"copied \xD83D\xDE00");
  GlobalUnlock(data);

  const std::wstring other = L"pasted";
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (other.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(block), other.c_str(), (other.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(block);
  EmptyClipboard();
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
  EXPECT_EQ(clipboard->GetText(), L"pasted");
}

// A move to a monitor of another DPI rescales the window: the frame size,
// the size on the screen (at Windows' suggested place) and the points the
// delegate gets.
TEST_F(DesktopHostTest, DpiChangeRescalesTheWindow) {
  RecordingDelegate d;
  auto host = Open(&d, UiRect{10, 10, 210, 110}, halves(200, 100, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  ASSERT_DOUBLE_EQ(host->GetScale(), 1.0);  // Wine's 96 DPI
  d.frame = Keep(halves(400, 200, 0xFFFF0000, 0xFF0000FF));
  const int renders = d.exposed;
  RECT suggested{300, 200, 700, 400};
  SendMessageW(hwnd_, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_DOUBLE_EQ(host->GetScale(), 2.0);
  EXPECT_GT(d.exposed, renders);
  RECT r;
  ASSERT_TRUE(GetWindowRect(hwnd_, &r));
  EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
            (std::vector<LONG>{300, 200, 700, 400}));
  EXPECT_EQ(host->GetBounds(), (UiRect{150, 100, 350, 200}));
  EXPECT_TRUE(waitFor([] { return screenColor(350, 300) == 0xFF0000; }));
  PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 50));
  PostMessageW(hwnd_, WM_LBUTTONUP, 0, MAKELPARAM(100, 50));
  EXPECT_TRUE(waitFor([&] { return d.Saw(MouseEvent::kUp); }));
  EXPECT_EQ(d.mouse.back(), (Mouse{MouseEvent::kUp, 50, 25, 0}));
}

// The window's icon shows the picture's colours: cairo's premultiplied
// pixels become the straight alpha icons carry.
TEST_F(DesktopHostTest, IconKeepsThePicturesColours) {
  RecordingDelegate d;
  auto host = Open(&d, UiRect{100, 100, 300, 220}, halves(200, 120, 0xFF808080, 0xFF808080));
  ASSERT_NE(host, nullptr);
  cairo_surface_t* picture = Keep(halves(64, 64, 0x80800000, 0x80800000));  // half-clear red
  host->SetIcon(picture);
  auto icon = reinterpret_cast<HICON>(SendMessageW(hwnd_, WM_GETICON, ICON_BIG, 0));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP bm{};
  GetObjectW(info.hbmColor, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXICON));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  EXPECT_NE(SendMessageW(hwnd_, WM_GETICON, ICON_SMALL, 0), 0);

  // Drawn over white: half red over white is (255, 127, 127).
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, bm.bmWidth, bm.bmWidth);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, canvas);
  RECT all{0, 0, bm.bmWidth, bm.bmWidth};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawIconEx(dc, 0, 0, icon, bm.bmWidth, bm.bmWidth, 0, nullptr, DI_NORMAL);
  const COLORREF c = GetPixel(dc, bm.bmWidth / 2, bm.bmWidth / 2);
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  EXPECT_NEAR(GetRValue(c), 255, 6);
  EXPECT_NEAR(GetGValue(c), 127, 6);
  EXPECT_NEAR(GetBValue(c), 127, 6);
}

}  // namespace
}  // namespace ui
