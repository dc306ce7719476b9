#include "uiframework/win32/frame_bitmap_win.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace ui::win {

namespace {

// A top-down 32-bit DIB section of `width` × `height`; its pixels in *bits.
HBITMAP createDib(int width, int height, uint32_t** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // negative: the first row is the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  *bits = static_cast<uint32_t*>(pixels);
  return bitmap;
}

// Premultiplied `pixel` laid over opaque white.
uint32_t overWhite(uint32_t pixel) {
  const uint32_t alpha = pixel >> 24;
  if (alpha == 0xFF) return pixel;
  const uint32_t add = 0xFF - alpha;  // white's share of each channel
  const uint32_t r = ((pixel >> 16) & 0xFF) + add;
  const uint32_t g = ((pixel >> 8) & 0xFF) + add;
  const uint32_t b = (pixel & 0xFF) + add;
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

}  // namespace

FrameBitmap::~FrameBitmap() { Release(); }

void FrameBitmap::Release() {
  if (dc_ != nullptr) {
    SelectObject(dc_, old_bitmap_);
    DeleteDC(dc_);
  }
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  bits_ = nullptr;
  width_ = height_ = 0;
}

bool FrameBitmap::Allocate(int width, int height) {
  if (dc_ != nullptr && width == width_ && height == height_) return true;
  Release();
  bitmap_ = createDib(width, height, &bits_);
  dc_ = bitmap_ != nullptr ? CreateCompatibleDC(nullptr) : nullptr;
  if (dc_ == nullptr) {
    Release();
    return false;
  }
  old_bitmap_ = SelectObject(dc_, bitmap_);
  width_ = width;
  height_ = height;
  return true;
}

bool FrameBitmap::Assign(cairo_surface_t* frame, bool keep_alpha) {
  cairo_surface_flush(frame);
  const int width = cairo_image_surface_get_width(frame);
  const int height = cairo_image_surface_get_height(frame);
  const int stride = cairo_image_surface_get_stride(frame);
  const unsigned char* data = cairo_image_surface_get_data(frame);
  if (data == nullptr || width <= 0 || height <= 0 || !Allocate(width, height)) return false;
  GdiFlush();  // GDI may still be reading the previous frame
  for (int y = 0; y < height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    uint32_t* dst = bits_ + static_cast<size_t>(y) * width;
    if (keep_alpha) {
      std::memcpy(dst, src, static_cast<size_t>(width) * 4);
    } else {
      for (int x = 0; x < width; ++x) dst[x] = overWhite(src[x]);
    }
  }
  return true;
}

HICON IconFromSurface(cairo_surface_t* picture, int size) {
  if (picture == nullptr || size <= 0) return nullptr;
  const int width = cairo_image_surface_get_width(picture);
  const int height = cairo_image_surface_get_height(picture);
  if (width <= 0 || height <= 0) return nullptr;
  // Cairo scales the picture to the size the shell asks for; a good filter
  // keeps a 256-pixel icon from turning to noise at 16.
  cairo_surface_t* scaled = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(scaled);
  cairo_scale(cr, static_cast<double>(size) / width, static_cast<double>(size) / height);
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(scaled);

  uint32_t* bits = nullptr;
  HBITMAP color = createDib(size, size, &bits);
  // The mask is all zero: the colour's alpha says what shows.
  const std::vector<BYTE> zeros(static_cast<size_t>((size + 15) / 16) * 2 * size, 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());
  HICON icon = nullptr;
  if (color != nullptr && mask != nullptr) {
    const unsigned char* data = cairo_image_surface_get_data(scaled);
    const int stride = cairo_image_surface_get_stride(scaled);
    for (int y = 0; y < size; ++y) {
      const auto* src = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < size; ++x) {
        // Icons carry straight alpha, cairo premultiplied.
        const uint32_t p = src[x];
        const uint32_t a = p >> 24;
        uint32_t out = 0;
        if (a != 0) {
          const uint32_t r = (((p >> 16) & 0xFF) * 255 + a / 2) / a;
          const uint32_t g = (((p >> 8) & 0xFF) * 255 + a / 2) / a;
          const uint32_t b = ((p & 0xFF) * 255 + a / 2) / a;
          out = (a << 24) | (r << 16) | (g << 8) | b;
        }
        bits[static_cast<size_t>(y) * size + x] = out;
      }
    }
    GdiFlush();
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = color;
    icon = CreateIconIndirect(&info);
  }
  if (color != nullptr) DeleteObject(color);
  if (mask != nullptr) DeleteObject(mask);
  cairo_surface_destroy(scaled);
  return icon;
}

}  // namespace ui::win
