#ifndef WEBSETUP_UIFRAMEWORK_IMAGE_DECODE_H_
#define WEBSETUP_UIFRAMEWORK_IMAGE_DECODE_H_

// Pictures from bytes: PNG (the skin's own) and JPEG (pictures a service
// sends, such as banners). Any thread; the bytes are not trusted.

#include <cairo.h>

#include <string>

namespace ui {

// The picture as a cairo image surface (ARGB32 for PNG with alpha, RGB24
// for JPEG), or null when the bytes are neither, are damaged, or describe
// a picture larger than 8192 pixels on a side. The caller owns the result.
cairo_surface_t* DecodeImage(const std::string& bytes);

// Reads and decodes the file at `path`; null when it cannot be read (or
// is over 32 MiB) or does not decode.
cairo_surface_t* DecodeImageFile(const std::string& path);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_IMAGE_DECODE_H_
