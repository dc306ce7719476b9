#ifndef WEBSETUP_UIFRAMEWORK_UI_TYPES_H_
#define WEBSETUP_UIFRAMEWORK_UI_TYPES_H_

// Small value types of the UI framework, its result codes and the Win32
// message numbers the windows of the program speak.

#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

// Results of the UI framework. The numbers reach logs: add at the end only.
enum class EnumUiResult {
  kOk = 0,
  kNoArchive = 1,     // the skin resource is missing or is not a zip archive
  kFileMissing = 2,   // a layout or image is not in the archive
  kBadXml = 3,        // the layout is not well-formed XML
  kUnknownTag = 4,    // an element the builder does not know
  kBadLayout = 5,     // the layout has no control at all
  kNoHost = 6,        // no window host could be created
};

// Win32 message numbers, kept so that code ported from a Win32 window reads
// the same. Custom messages start at kWmUser.
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmSysCommand = 0x0112;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmUser = 0x0400;
constexpr uintptr_t kScMinimize = 0xF020;
constexpr uintptr_t kScRestore = 0xF120;

// The smallest timer period; shorter ones (0 included) are raised to it, as
// USER_TIMER_MINIMUM does.
constexpr uint32_t kMinTimerPeriodMs = 10;

// Timer ids from here up belong to the framework (caret blink, tooltip
// delay) and never reach a window's handler; a window's own ids stay below.
constexpr uintptr_t kUiTimerFirst = 0xFFFF0000u;

struct UiRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const UiRect&) const = default;
};

struct UiSize {
  int cx = 0, cy = 0;
};

// 0xAARRGGBB. Alpha 0 with other bits set is read as opaque (layouts often
// write #RRGGBB).
using UiColor = uint32_t;

// Parses "#AARRGGBB", "#RRGGBB" or "0xAARRGGBB". Returns false and leaves
// *out unchanged when `text` is none of them.
bool parseColor(std::string_view text, UiColor* out);

// Parses "l,t,r,b" (missing parts 0). Returns false when no number leads.
bool parseRect(std::string_view text, UiRect* out);

// Parses "cx,cy".
bool parseSize(std::string_view text, UiSize* out);

// "true" (any case) or "1".
bool parseBool(std::string_view text);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_UI_TYPES_H_
