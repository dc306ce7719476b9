#ifndef WEBSETUP_UIFRAMEWORK_HOST_H_
#define WEBSETUP_UIFRAMEWORK_HOST_H_

// Where a window's pixels go: a real SDL2 window for people, or a headless
// host that keeps them in memory (tests, automated runs, machines without a
// display). Hosts belong to their window and to the UI thread.

#include <cairo.h>

#include <memory>
#include <string>

#include "uiframework/control.h"
#include "uiframework/ui_types.h"

namespace ui {

// What a host reports back to its window.
class HostDelegate {
 public:
  virtual ~HostDelegate() = default;
  virtual void OnHostMouse(MouseEvent event, int x, int y, int wheel) = 0;
  virtual void OnHostKey(int key) = 0;
  virtual void OnHostText(const std::string& utf8) = 0;
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
  // Shows `frame` (the window's client pixels).
  virtual void Present(cairo_surface_t* frame) = 0;
  // The size of the screen holding the window; 0 x 0 without a display.
  virtual UiSize ScreenSize() const = 0;
  virtual bool IsHeadless() const = 0;
};

enum class HostKind {
  kAuto,      // SDL when a display answers, else headless
  kHeadless,
  kSdl,
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

std::unique_ptr<WindowHost> CreateHeadlessHost(const UiRect& bounds);
// Null when SDL cannot open a window.
std::unique_ptr<WindowHost> CreateSdlHost(HostDelegate* delegate, const UiRect& bounds);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_HOST_H_
