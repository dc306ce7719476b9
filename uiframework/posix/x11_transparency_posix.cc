#include "uiframework/posix/x11_transparency_posix.h"

// The logging header first: Xlib's macros (None, Status, Bool) would
// break it.
#include "common/log.h"
// clang-format off
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ui {

namespace {

bool x11Of(SDL_Window* window, Display** display, Window* handle) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
    return false;
  }
  *display = info.info.x11.display;
  *handle = info.info.x11.window;
  return true;
}

// A compositing manager announces itself by owning _NET_WM_CM_S<screen>.
bool compositorRuns(Display* display, int screen) {
  char name[32];
  std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", screen);
  Atom selection = XInternAtom(display, name, False);
  return XGetSelectionOwner(display, selection) != None;
}

bool littleEndianHost() {
  const uint16_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

}  // namespace

unsigned long X11Transparency::CompositedVisual(SDL_Window* window) {
  Display* display = nullptr;
  Window handle = 0;
  if (!x11Of(window, &display, &handle)) return 0;
  int screen = DefaultScreen(display);
  if (!compositorRuns(display, screen)) return 0;
  XVisualInfo info;
  if (XMatchVisualInfo(display, screen, 32, TrueColor, &info) == 0) return 0;
  return info.visualid;
}

std::unique_ptr<X11Transparency> X11Transparency::For(SDL_Window* window) {
  Display* display = nullptr;
  Window handle = 0;
  if (!x11Of(window, &display, &handle)) return nullptr;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, handle, &attributes) == 0) return nullptr;
  // Frames are 32 bits a pixel; only the visuals that store them so can
  // take them without a conversion of ours.
  if (attributes.depth != 24 && attributes.depth != 32) return nullptr;
  std::unique_ptr<X11Transparency> out(new X11Transparency());
  out->display_ = display;
  out->window_ = handle;
  out->visual_ = attributes.visual;
  out->depth_ = attributes.depth;
  out->gc_ = XCreateGC(display, handle, 0, nullptr);
  int event_base = 0, error_base = 0;
  out->has_shape_ = XShapeQueryExtension(display, &event_base, &error_base) != 0;
  if (out->depth_ != 32 && !out->has_shape_) {
    LOG(INFO) << " ui: the X server has neither a compositor nor shaped windows;"
                 " transparent parts show opaque";
  }
  return out;
}

X11Transparency::~X11Transparency() {
  if (gc_ != nullptr) XFreeGC(static_cast<Display*>(display_), static_cast<GC>(gc_));
}

void X11Transparency::HideUntilFirstFrame() {
  if (depth_ == 32 || !has_shape_) return;
  auto* display = static_cast<Display*>(display_);
  XShapeCombineRectangles(display, window_, ShapeBounding, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  shape_.clear();
  shape_width_ = shape_height_ = 0;
}

void X11Transparency::UpdateShape(const unsigned char* data, int width, int height, int stride) {
  std::vector<unsigned char> inside(static_cast<size_t>(width) * height);
  const bool little = littleEndianHost();
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = data + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      unsigned char alpha = row[x * 4 + (little ? 3 : 0)];
      inside[static_cast<size_t>(y) * width + x] = alpha >= 128 ? 1 : 0;
    }
  }
  if (width == shape_width_ && height == shape_height_ && inside == shape_) return;

  // XYBitmap rows: least significant bit first, padded to whole bytes.
  const int row_bytes = (width + 7) / 8;
  std::vector<char> bits(static_cast<size_t>(row_bytes) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (inside[static_cast<size_t>(y) * width + x] != 0) {
        bits[static_cast<size_t>(y) * row_bytes + x / 8] |= static_cast<char>(1 << (x % 8));
      }
    }
  }
  auto* display = static_cast<Display*>(display_);
  Pixmap mask = XCreateBitmapFromData(display, window_, bits.data(), width, height);
  XShapeCombineMask(display, window_, ShapeBounding, 0, 0, mask, ShapeSet);
  XFreePixmap(display, mask);
  shape_ = std::move(inside);
  shape_width_ = width;
  shape_height_ = height;
}

bool X11Transparency::Present(cairo_surface_t* frame) {
  if (frame == nullptr || cairo_image_surface_get_format(frame) != CAIRO_FORMAT_ARGB32) {
    return false;
  }
  cairo_surface_flush(frame);
  const int width = cairo_image_surface_get_width(frame);
  const int height = cairo_image_surface_get_height(frame);
  const int stride = cairo_image_surface_get_stride(frame);
  unsigned char* data = cairo_image_surface_get_data(frame);
  if (data == nullptr || width <= 0 || height <= 0) return false;

  char* pixels = reinterpret_cast<char*>(data);
  int line = stride;
  if (depth_ != 32) {
    if (has_shape_) UpdateShape(data, width, height, stride);
    // Inside the shape every pixel is shown whole: undo the premultiply, so
    // the card's soft edge keeps its colour instead of going dark.
    opaque_.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      uint32_t* out = opaque_.data() + static_cast<size_t>(y) * width;
      for (int x = 0; x < width; ++x) {
        uint32_t p = row[x];
        uint32_t a = p >> 24;
        if (a == 255 || a == 0) {
          out[x] = p | 0xff000000u;
          continue;
        }
        auto channel = [&](int shift) {
          uint32_t c = (p >> shift) & 0xff;
          return std::min<uint32_t>(255, (c * 255 + a / 2) / a) << shift;
        };
        out[x] = 0xff000000u | channel(16) | channel(8) | channel(0);
      }
    }
    pixels = reinterpret_cast<char*>(opaque_.data());
    line = width * 4;
  }

  auto* display = static_cast<Display*>(display_);
  XImage* image = XCreateImage(display, static_cast<Visual*>(visual_), depth_, ZPixmap, 0, pixels,
                               width, height, 32, line);
  if (image == nullptr) return false;
  // Cairo's pixels are native-endian words; Xlib swaps them for the server
  // when its order differs.
  image->byte_order = littleEndianHost() ? LSBFirst : MSBFirst;
  XPutImage(display, window_, static_cast<GC>(gc_), image, 0, 0, 0, 0, width, height);
  image->data = nullptr;  // the pixels are not Xlib's to free
  XDestroyImage(image);
  XFlush(display);
  return true;
}

}  // namespace ui
