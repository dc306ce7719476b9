#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h expects size_t and FILE declared before it.
#include <jpeglib.h>

#include "uiframework/jpeg_decode.h"

namespace ui {
namespace {

// libjpeg reports errors by calling a function that must not return: it
// jumps back to the decoder, which gives up on the picture.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

void onJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->back, 1);
}

void quietJpegMessage(j_common_ptr) {}

}  // namespace

cairo_surface_t* DecodeJpeg(const std::string& bytes, int maxSide) {
  const auto limit = static_cast<JDIMENSION>(maxSide);
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = onJpegError;
  error.manager.output_message = quietJpegMessage;
  // Declared before the jump point so that a jump never skips their
  // construction; cleaned up on both ways out.
  cairo_surface_t* volatile surface = nullptr;
  std::vector<unsigned char> row;
  if (setjmp(error.back) != 0) {
    jpeg_destroy_decompress(&info);
    if (surface != nullptr) cairo_surface_destroy(surface);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width == 0 ||
      info.image_height == 0 || info.image_width > limit || info.image_height > limit) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    cairo_surface_destroy(surface);
    return nullptr;
  }
  row.resize(static_cast<size_t>(width) * 3);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    const int y = static_cast<int>(info.output_scanline);
    if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    auto* out = reinterpret_cast<uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) {
      out[x] = 0xFF000000u | (uint32_t(row[x * 3]) << 16) | (uint32_t(row[x * 3 + 1]) << 8) |
               uint32_t(row[x * 3 + 2]);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  cairo_surface_mark_dirty(surface);
  return surface;
}

}  // namespace ui
