#include "uiframework/markup.h"

#include <cctype>
#include <cstdio>
#include <optional>

#include "common/text.h"
#include "uiframework/font_families.h"
#include "uiframework/render.h"

namespace ui {

namespace {

void appendEscaped(std::string* out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '&': *out += "&amp;"; break;
      case '"': *out += "&quot;"; break;
      case '\'': *out += "&apos;"; break;
      default: out->push_back(c);
    }
  }
}

std::string colorText(UiColor c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%06x", c & 0xFFFFFF);
  return buf;
}

// The markup state at one point of the text.
struct State {
  std::vector<int> fonts;
  std::vector<std::optional<UiColor>> colors;  // nullopt: an unreadable colour
  std::vector<std::string> links;
  int bold = 0, italic = 0, underline = 0;
};

class Converter {
 public:
  explicit Converter(const MarkupStyle& style) : style_(style) {}

  MarkupResult run(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] == '{') {
        size_t close = text.find('}', i);
        if (close != std::string::npos && applyTag(text.substr(i + 1, close - i - 1))) {
          i = close + 1;
          continue;
        }
      }
      run_.push_back(text[i]);
      ++i;
    }
    flush();
    return std::move(result_);
  }

 private:
  // Applies tag `tag` (without braces). Returns false for unknown tags.
  bool applyTag(const std::string& tag) {
    if (tag.empty()) return false;
    bool closing = tag[0] == '/';
    std::string name = closing ? tag.substr(1) : tag;
    std::string arg;
    size_t space = name.find(' ');
    if (space != std::string::npos) {
      arg = name.substr(space + 1);
      name = name.substr(0, space);
    }
    if (name.size() != 1) return false;
    if (closing && !arg.empty()) return false;
    char kind = name[0];
    if (std::string("fcaubinp").find(kind) == std::string::npos) return false;
    if ((kind == 'n' || kind == 'p') && closing) return false;
    flush();
    if (kind == 'n') {
      addText("\n");
    } else if (kind == 'p') {
      addText("\n");
    } else if (closing) {
      pop(kind);
    } else {
      push(kind, arg);
    }
    return true;
  }

  void push(char kind, const std::string& arg) {
    switch (kind) {
      case 'f': state_.fonts.push_back(std::atoi(arg.c_str())); break;
      case 'c': {
        UiColor c;
        const bool readable = parseColor(arg, &c);
        state_.colors.push_back(readable ? std::optional<UiColor>(c) : std::nullopt);
        if (!readable) result_.bad_colors.push_back(arg);
        break;
      }
      case 'a':
        if (state_.links.empty()) link_start_ = static_cast<int>(result_.plain.size());
        state_.links.push_back(arg);
        break;
      case 'u': ++state_.underline; break;
      case 'b': ++state_.bold; break;
      case 'i': ++state_.italic; break;
    }
  }

  void pop(char kind) {
    switch (kind) {
      case 'f':
        if (!state_.fonts.empty()) state_.fonts.pop_back();
        break;
      case 'c':
        if (!state_.colors.empty()) state_.colors.pop_back();
        break;
      case 'a':
        if (!state_.links.empty()) {
          std::string target = state_.links.front();
          state_.links.pop_back();
          if (state_.links.empty()) {
            result_.links.push_back(
                LinkRange{link_start_, static_cast<int>(result_.plain.size()), target});
          }
        }
        break;
      case 'u':
        if (state_.underline > 0) --state_.underline;
        break;
      case 'b':
        if (state_.bold > 0) --state_.bold;
        break;
      case 'i':
        if (state_.italic > 0) --state_.italic;
        break;
    }
  }

  void flush() {
    if (run_.empty()) return;
    addText(run_);
    run_.clear();
  }

  void addText(const std::string& text) {
    FontSpec font;
    int index = state_.fonts.empty() ? style_.base_font : state_.fonts.back();
    if (style_.fonts != nullptr && index >= 0 && index < static_cast<int>(style_.fonts->size())) {
      font = (*style_.fonts)[index];
    } else if (style_.fonts != nullptr && !style_.fonts->empty()) {
      font = style_.fonts->front();
    }
    bool in_link = !state_.links.empty();
    bool hot = in_link && static_cast<int>(result_.links.size()) == style_.hot_link;
    // The innermost readable colour wins, also inside a link; a hovered link
    // always shows the hover colour.
    UiColor color = in_link ? style_.link_color : style_.text_color;
    for (auto it = state_.colors.rbegin(); it != state_.colors.rend(); ++it) {
      if (it->has_value()) {
        color = **it;
        break;
      }
    }
    if (hot) color = style_.link_hover_color;
    if (state_.bold > 0) font.bold = true;
    if (state_.italic > 0) font.italic = true;
    if (state_.underline > 0) font.underline = true;
    result_.pango += "<span font_desc=\"" + pangoFontDescription(font) + "\" foreground=\"" +
                     colorText(color) + "\"";
    if (font.underline) result_.pango += " underline=\"single\"";
    result_.pango += ">";
    appendEscaped(&result_.pango, text);
    result_.pango += "</span>";
    result_.plain += text;
  }

  const MarkupStyle& style_;
  State state_;
  std::string run_;
  int link_start_ = 0;
  MarkupResult result_;
};

}  // namespace

std::string pangoFontDescription(const FontSpec& font) {
  std::string desc = FontFamiliesFor(font.family, GetTextLanguage());
  if (font.bold) desc += " Bold";
  if (font.italic) desc += " Italic";
  desc += " " + std::to_string(font.size_px > 0 ? font.size_px : 12) + "px";
  return desc;
}

MarkupResult convertMarkup(std::wstring_view text, const MarkupStyle& style) {
  Converter converter(style);
  return converter.run(common::wideToUtf8(text));
}

}  // namespace ui
