#include <string_view>

#include "uiframework/font_families.h"

namespace ui {
namespace {

// Han characters are shared by four languages, each with its own forms:
// the face of the text's language goes before the others.
const char* hanFaces(std::string_view tag) {
  if (tag.substr(0, 2) == "ja") return "Yu Gothic UI,Meiryo UI,Noto Sans CJK JP,";
  if (tag.substr(0, 2) == "ko") return "Malgun Gothic,Noto Sans CJK KR,";
  if (tag == "zh-TW" || tag == "zh-HK" || tag == "zh-Hant") {
    return "Microsoft JhengHei UI,Microsoft JhengHei,Noto Sans CJK TC,";
  }
  return "Microsoft YaHei UI,Microsoft YaHei,Noto Sans CJK SC,";
}

}  // namespace

// Pango's Windows font map tries only the families it is given, so the
// list names a face for every script of the twenty languages: the skin's
// own font first (Windows links its fallbacks to it), then Windows' own
// faces per script, then the same scripts in Noto (machines, and Wine
// prefixes, that have those instead).
std::string FontFamiliesFor(const std::string& family, const char* languageTag) {
  const std::string_view tag = languageTag != nullptr ? languageTag : "";
  std::string list = family.empty() ? std::string() : family + ",";
  list += "Segoe UI,";
  list += hanFaces(tag);
  // The other CJK faces still serve what the first one lacks.
  list +=
      "Microsoft YaHei,Yu Gothic UI,Malgun Gothic,Leelawadee UI,Tahoma,Nirmala UI,"
      "Segoe UI Symbol,Noto Sans,Noto Sans CJK SC,Noto Sans CJK JP,Noto Sans CJK KR,"
      "Noto Sans Arabic,Noto Sans Hebrew,Noto Sans Thai,Noto Sans Devanagari,sans-serif";
  return list;
}

}  // namespace ui
