#ifndef WEBSETUP_UIFRAMEWORK_MARKUP_H_
#define WEBSETUP_UIFRAMEWORK_MARKUP_H_

// The framework's inline text markup ("{f 1}", "{c #rrggbb}", "{a}", "{u}",
// "{b}", "{i}", "{n}", "{p}" and the closing forms "{/f}" ...) converted to
// Pango markup. Tags need not nest: every run of text is written as one
// span carrying the whole state at that point, so "{f 1}x{/c}{/f}" (a
// closing tag with no opening one, as the language files have) is harmless.
// Unknown or malformed tags stay as literal text. Pure functions.

#include <string>
#include <string_view>
#include <vector>

#include "uiframework/ui_types.h"

namespace ui {

struct FontSpec {
  std::string family = "Noto Sans";
  int size_px = 12;
  bool bold = false;
  bool italic = false;
  bool underline = false;
};

// A link of the text: bytes [start, end) of the plain UTF-8 text, which are
// also the byte indexes of the Pango layout built from the markup.
struct LinkRange {
  int start = 0;
  int end = 0;
  std::string target;  // the argument of "{a target}", often empty
};

struct MarkupResult {
  std::string pango;  // Pango markup
  std::string plain;  // the text without tags
  std::vector<LinkRange> links;
  // The arguments of "{c ...}" tags that name no colour, in text order. The
  // text still draws (in the colour around them); they are listed so a
  // check of the language files can find a colour that silently falls back.
  std::vector<std::string> bad_colors;
};

struct MarkupStyle {
  const std::vector<FontSpec>* fonts = nullptr;  // font table of the window
  int base_font = 0;                             // -1: the window's default
  UiColor text_color = 0xFF000000;
  UiColor link_color = 0xFF28BF74;
  int hot_link = -1;  // index of the link drawn in the hover colour
  UiColor link_hover_color = 0xFFE18407;
};

// Converts `text`. Never fails: text without tags becomes one escaped span.
MarkupResult convertMarkup(std::wstring_view text, const MarkupStyle& style);

// The Pango font description text of `font` ("Noto Sans Bold 12px"), with
// the Windows family names of the layouts mapped to installed families.
std::string pangoFontDescription(const FontSpec& font);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_MARKUP_H_
