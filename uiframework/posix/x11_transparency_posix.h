#ifndef WEBSETUP_UIFRAMEWORK_POSIX_X11_TRANSPARENCY_POSIX_H_
#define WEBSETUP_UIFRAMEWORK_POSIX_X11_TRANSPARENCY_POSIX_H_

// Per-pixel transparency for an SDL window on X11. SDL's window surface is
// always opaque (it converts frames to the visual's RGB and drops alpha), so
// a window whose frames have transparent parts, like the launch splash's
// rounded card, is presented here instead:
// - with a compositing manager running, the window lives on a 32-bit ARGB
//   visual and gets the premultiplied frame as it is; the compositor blends
//   it over what lies behind;
// - without one (a bare X server, Xvfb), the window is shaped to the
//   frame's opaque pixels (alpha of at least one half), and what lies
//   outside the card is the desktop, not a white square.
// UI thread only, like the SDL window it belongs to.

#include <SDL2/SDL.h>
#include <cairo.h>

#include <memory>
#include <vector>

namespace ui {

class X11Transparency {
 public:
  // The visual a transparent window should be created on for the display of
  // `window`: a 32-bit TrueColor visual's id when a compositing manager owns
  // the screen, else 0 (keep the default visual and shape the window).
  static unsigned long CompositedVisual(SDL_Window* window);

  // Null when `window` is not an X11 window (Wayland, another driver).
  static std::unique_ptr<X11Transparency> For(SDL_Window* window);
  ~X11Transparency();
  X11Transparency(const X11Transparency&) = delete;
  X11Transparency& operator=(const X11Transparency&) = delete;

  // Whether the window is on a 32-bit visual, so Present() passes alpha on.
  bool HasAlphaVisual() const { return depth_ == 32; }

  // Takes all of the window out of the screen until the first frame gives
  // it its shape: a shaped window must not flash as a full rectangle.
  void HideUntilFirstFrame();

  // Shows `frame` (premultiplied ARGB32, the window's pixels). On an alpha
  // visual it goes to the window as it is. Otherwise the window's shape
  // follows the frame's alpha and the pixels inside it are written opaque,
  // at their own colour (not darkened by their partial alpha). Returns
  // false when the frame could not go to the X server.
  bool Present(cairo_surface_t* frame);

 private:
  X11Transparency() = default;
  void UpdateShape(const unsigned char* data, int width, int height, int stride);

  void* display_ = nullptr;   // Display*, SDL's connection
  unsigned long window_ = 0;  // Window
  void* visual_ = nullptr;    // Visual*
  void* gc_ = nullptr;        // GC
  int depth_ = 0;
  bool has_shape_ = false;  // the server offers the SHAPE extension
  // One byte per pixel of the shape last set (1: inside), to skip setting
  // the same shape on every animation frame.
  std::vector<unsigned char> shape_;
  int shape_width_ = 0;
  int shape_height_ = 0;
  std::vector<uint32_t> opaque_;  // the frame's pixels at full opacity
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_POSIX_X11_TRANSPARENCY_POSIX_H_
