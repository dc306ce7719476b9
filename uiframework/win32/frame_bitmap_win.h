#ifndef WEBSETUP_UIFRAMEWORK_WIN32_FRAME_BITMAP_WIN_H_
#define WEBSETUP_UIFRAMEWORK_WIN32_FRAME_BITMAP_WIN_H_

// Cairo's pixels in GDI's terms: the last frame a window showed, kept in a
// DIB section selected into a memory DC (WM_PAINT shows it again without a
// new render; UpdateLayeredWindow takes it as it is), and window icons.
// Owned by one host; UI thread.

#include <cairo.h>
#include <windows.h>

#include <cstdint>

namespace ui::win {

class FrameBitmap {
 public:
  FrameBitmap() = default;
  ~FrameBitmap();
  FrameBitmap(const FrameBitmap&) = delete;
  FrameBitmap& operator=(const FrameBitmap&) = delete;

  // Copies `frame` (an ARGB32 image surface). Cairo's ARGB32 is
  // premultiplied BGRA in memory, what a layered window wants, so
  // `keep_alpha` copies it unchanged; otherwise the frame is laid over
  // white, as a window without per-pixel alpha shows it (a cleared pixel
  // would otherwise show black). Returns false when GDI has no memory for
  // the bitmap (the previous frame is then gone too).
  bool Assign(cairo_surface_t* frame, bool keep_alpha);
  // Forgets the frame.
  void Clear() { Release(); }
  bool empty() const { return dc_ == nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  // A memory DC holding the frame; null when empty.
  HDC dc() const { return dc_; }

 private:
  void Release();
  bool Allocate(int width, int height);

  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  uint32_t* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

// An icon of `size` × `size` pixels drawn from `picture` (any cairo
// surface), or null. The caller destroys it with DestroyIcon.
HICON IconFromSurface(cairo_surface_t* picture, int size);

}  // namespace ui::win

#endif  // WEBSETUP_UIFRAMEWORK_WIN32_FRAME_BITMAP_WIN_H_
