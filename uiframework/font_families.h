#ifndef WEBSETUP_UIFRAMEWORK_FONT_FAMILIES_H_
#define WEBSETUP_UIFRAMEWORK_FONT_FAMILIES_H_

// Skins name Windows fonts ("Microsoft YaHei", "Tahoma"). What each stands
// for depends on the system's font fallback: fontconfig falls back per
// character by itself (uiframework/posix), Pango's Windows font map only
// tries the families it is given (uiframework/win32).

#include <string>

namespace ui {

// The Pango family list ("A,B,C") for the skin's `family`, for text in
// the language `languageTag` ("ja", "zh-TW"; null or "" for the process's).
std::string FontFamiliesFor(const std::string& family, const char* languageTag);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_FONT_FAMILIES_H_
