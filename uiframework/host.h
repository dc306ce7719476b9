#ifndef WEBSETUP_UIFRAMEWORK_HOST_H_
#define WEBSETUP_UIFRAMEWORK_HOST_H_

// Where a window's pixels go: a real SDL2 window for people, or a headless
// host that keeps them in memory (tests, automated runs, machines without a
// display). Hosts belong to their window and to the UI thread.

#include <cairo.h>

#include <memory>
#include <string>

#include "uiframework/clipboard.h"
#include "uiframework/control.h"
#include "uiframework/ui_types.h"

namespace ui {

// What a host reports back to its window. Points are in layout pixels:
// hosts that draw at a scale divide by it before reporting.
class HostDelegate {
 public:
  virtual ~HostDelegate() = default;
  virtual void OnHostMouse(MouseEvent event, int x, int y, int wheel) = 0;
  // A key without its modifiers; hosts call OnHostKeyEvent, whose default
  // comes here.
  virtual void OnHostKey(int key) = 0;
  // A key press with the modifiers held.
  virtual void OnHostKeyEvent(const KeyEvent& event) { OnHostKey(event.key); }
  virtual void OnHostText(const std::string& utf8) = 0;
  // The input method's composition changed (empty: it ended); `cursor` is
  // the character offset of its cursor inside `utf8`.
  virtual void OnHostTextEditing(const std::string& utf8, int cursor) {
    (void)utf8;
    (void)cursor;
  }
  // The user asked the window manager to close the window.
  virtual void OnHostCloseRequest() = 0;
  // Whether client point (x, y) drags the window.
  virtual bool OnHostHitCaption(int x, int y) = 0;
  // The host lost its pixels and needs a repaint.
  virtual void OnHostExposed() = 0;
};

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void SetBounds(const UiRect& bounds) = 0;
  virtual UiRect GetBounds() const = 0;
  virtual void Show(bool show) = 0;
  virtual bool IsShown() const = 0;
  virtual void Minimize() = 0;
  virtual void Restore() = 0;
  virtual bool IsMinimized() const = 0;
  virtual void SetTitle(const std::string& utf8) = 0;
  // 0 (invisible) to 1 (opaque), for the whole window.
  virtual void SetOpacity(double opacity) = 0;
  virtual void SetIcon(cairo_surface_t* icon) = 0;
  virtual void Focus() = 0;
  // Whether the window's frames have transparent parts that should show
  // what lies behind the window (the layout's bktrans). Before the first
  // Show() for it to take full effect.
  virtual void SetTransparent(bool transparent) { (void)transparent; }
  // Shows `frame` (the window's client pixels).
  virtual void Present(cairo_surface_t* frame) = 0;
  // The size of the screen holding the window; 0 x 0 without a display.
  virtual UiSize ScreenSize() const = 0;
  virtual bool IsHeadless() const = 0;

  // Frame pixels per layout pixel: Present() gets frames this many times
  // the window's size, and bounds, points and the screen size stay in
  // layout pixels.
  virtual double GetScale() const { return 1.0; }
  // The clipboard of this host's desktop. Never null.
  virtual Clipboard* GetClipboard() { return GetMemoryClipboard(); }
  // Switches the input method on while a text field has the focus, with
  // `caret` (window layout pixels) where its candidate box should go, or
  // off.
  virtual void SetTextInput(bool active, const UiRect& caret) {
    (void)active;
    (void)caret;
  }
  // Whether SetTextInput last switched the input method on.
  virtual bool IsTextInputActive() const { return false; }
  // Makes this window one `owner` owns (a message box over the setup's
  // window): it stays above its owner and has no taskbar button of its
  // own. Before the first Show(). Hosts without the notion ignore it.
  virtual void SetOwner(WindowHost* owner) { (void)owner; }
};

enum class HostKind {
  kAuto,  // the desktop's window when a desktop answers, else headless
  kHeadless,
  kSdl,  // the desktop's window (SDL on Linux), or nothing
};

// The kind of host new windows get. The environment variable
// WEBSETUP_UI_HOST=headless|sdl overrides kAuto. UI thread.
void SetHostKind(HostKind kind);
HostKind GetHostKind();

// Creates a host for a new window of `bounds`. Falls back to headless when
// SDL is wanted by kAuto but cannot open a display; returns null (with
// kNoHost) only when kSdl was asked for explicitly and failed.
std::unique_ptr<WindowHost> CreateHost(HostDelegate* delegate, const UiRect& bounds,
                                       EnumUiResult* result);

// The scale new windows are drawn at (frame pixels per layout pixel). 0,
// the default, lets the host decide: the environment variable
// WEBSETUP_UI_SCALE (1.5, say) when set, else the display's scale (SDL),
// else 1. Values are kept within [kMinUiScale, kMaxUiScale]. UI thread.
constexpr double kMinUiScale = 0.5;
constexpr double kMaxUiScale = 4.0;
void SetUiScale(double scale);
// The scale SetUiScale or WEBSETUP_UI_SCALE asks for; 0 when neither does.
double GetRequestedUiScale();

// A headless host draws at GetRequestedUiScale(), or 1.
std::unique_ptr<WindowHost> CreateHeadlessHost(const UiRect& bounds);
// The desktop's own window, from the system's backend (uiframework/posix:
// SDL; uiframework/win32: a Win32 window). Null when none can be opened.
std::unique_ptr<WindowHost> CreateDesktopHost(HostDelegate* delegate, const UiRect& bounds);
// Whether a desktop may answer (on Linux: DISPLAY or WAYLAND_DISPLAY is
// set); kAuto goes headless without one.
bool HasDesktop();

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_HOST_H_
