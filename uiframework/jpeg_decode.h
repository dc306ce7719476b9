#ifndef WEBSETUP_UIFRAMEWORK_JPEG_DECODE_H_
#define WEBSETUP_UIFRAMEWORK_JPEG_DECODE_H_

// The JPEG decoder of the system's backend (uiframework/posix: libjpeg;
// uiframework/win32: the Windows Imaging Component), behind DecodeImage.
// Any thread; the bytes are not trusted.

#include <cairo.h>

#include <string>

namespace ui {

// An RGB24 image surface of the JPEG `bytes`, or null when they do not
// decode or the picture is larger than `maxSide` pixels on a side. The
// caller owns the result.
cairo_surface_t* DecodeJpeg(const std::string& bytes, int maxSide);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_JPEG_DECODE_H_
