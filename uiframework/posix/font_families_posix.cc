#include <cctype>

#include "uiframework/font_families.h"

namespace ui {

// The closest installed families. Pango falls back per character through
// fontconfig, so every script of the twenty languages still finds a face,
// and the language picks the forms where scripts share characters.
std::string FontFamiliesFor(const std::string& family, const char* languageTag) {
  (void)languageTag;
  struct Map {
    const char* windows;
    const char* here;
  };
  static const Map kMap[] = {
      // No CJK face is named for the general families: Latin, Cyrillic
      // and Greek stay in Noto's own proportions (a CJK face's apostrophes
      // are full width), and Han characters fall back by the text's
      // language (SetTextLanguage), so Japanese, Korean and both Chinese
      // scripts each get their own forms.
      {"microsoft yahei", "Noto Sans"},
      {"微软雅黑", "Noto Sans"},
      {"tahoma", "Noto Sans"},
      {"arial", "Noto Sans"},
      {"segoe ui", "Noto Sans"},
      {"times new roman", "Noto Serif"},
      {"meiryo ui", "Noto Sans CJK JP, Noto Sans"},
      {"batang", "Noto Serif CJK KR, Noto Serif"},
  };
  std::string lower;
  for (char c : family)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (const Map& m : kMap) {
    if (lower == m.windows) return m.here;
  }
  return family.empty() ? "Noto Sans" : family;
}

}  // namespace ui
