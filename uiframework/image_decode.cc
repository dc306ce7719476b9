#include "uiframework/image_decode.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "uiframework/jpeg_decode.h"

namespace ui {
namespace {

constexpr int kMaxSide = 8192;
constexpr std::streamoff kMaxFileBytes = 32 << 20;

struct PngReader {
  const std::string* bytes;
  size_t offset;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (r->offset + length > r->bytes->size()) return CAIRO_STATUS_READ_ERROR;
  std::copy_n(r->bytes->data() + r->offset, length, data);
  r->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* decodePng(const std::string& bytes) {
  PngReader reader{&bytes, 0};
  cairo_surface_t* image = cairo_image_surface_create_from_png_stream(readPng, &reader);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  return image;
}

}  // namespace

cairo_surface_t* DecodeImage(const std::string& bytes) {
  static const char kPng[] = "\x89PNG";
  if (bytes.size() >= 4 && bytes.compare(0, 4, kPng, 4) == 0) {
    cairo_surface_t* image = decodePng(bytes);
    if (image != nullptr && (cairo_image_surface_get_width(image) > kMaxSide ||
                             cairo_image_surface_get_height(image) > kMaxSide)) {
      cairo_surface_destroy(image);
      return nullptr;
    }
    return image;
  }
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xD8 &&
      static_cast<unsigned char>(bytes[2]) == 0xFF) {
    return DecodeJpeg(bytes, kMaxSide);
  }
  return nullptr;
}

cairo_surface_t* DecodeImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return nullptr;
  const std::streamoff size = in.tellg();
  if (size <= 0 || size > kMaxFileBytes) return nullptr;
  std::string bytes(static_cast<size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), size)) return nullptr;
  return DecodeImage(bytes);
}

}  // namespace ui
