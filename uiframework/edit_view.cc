#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/text.h"
#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

// The view half of CEditUI: the line as Pango lays it out, where its
// characters and word boundaries are, and how it is drawn and scrolled.

namespace ui {

namespace {

constexpr UiColor kFocusBorder = 0xFF2F7BFF;
constexpr UiColor kSelectionFocused = 0xFF2F7BFF;
constexpr UiColor kSelectionUnfocused = 0xFFD5DAE1;

}  // namespace

// The text as shown (the composition inside it while the input method
// composes), laid out on one line, with the byte offset of every character
// because Pango counts UTF-8 bytes and the field counts characters.
struct CEditUI::Line {
  Line(cairo_t* cr, const CEditUI& edit, bool with_composition);
  ~Line() { g_object_unref(layout); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  int Byte(int index) const {
    int last = static_cast<int>(byte_of.size()) - 1;
    return byte_of[static_cast<size_t>(std::clamp(index, 0, last))];
  }
  int CharAt(int byte) const {
    auto it = std::upper_bound(byte_of.begin(), byte_of.end(), byte);
    return static_cast<int>(it - byte_of.begin()) - 1;
  }
  PangoRectangle Cursor(int index) const {
    PangoRectangle strong;
    pango_layout_get_cursor_pos(layout, Byte(index), &strong, nullptr);
    return strong;
  }

  PangoLayout* layout = nullptr;
  std::vector<int> byte_of;
  int comp_start = 0, comp_end = 0;
  int width = 0, height = 0;
};

CEditUI::Line::Line(cairo_t* cr, const CEditUI& edit, bool with_composition) {
  std::wstring shown = edit.text_;
  int at = std::min<int>(edit.caret_, static_cast<int>(shown.size()));
  if (with_composition && !edit.composition_.empty()) {
    shown.insert(static_cast<size_t>(at), edit.composition_);
    comp_start = at;
    comp_end = at + static_cast<int>(edit.composition_.size());
  }
  std::string utf8;
  for (wchar_t c : shown) {
    byte_of.push_back(static_cast<int>(utf8.size()));
    utf8 += common::wideToUtf8(std::wstring_view(&c, 1));
  }
  byte_of.push_back(static_cast<int>(utf8.size()));
  FontSpec font =
      edit.manager_ != nullptr ? edit.manager_->ResolveFont(edit.font_) : FontSpec();
  layout = CreatePlainLayout(cr, utf8, font);
  if (comp_end > comp_start) {
    PangoAttrList* attrs = pango_attr_list_new();
    PangoAttribute* underline = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
    underline->start_index = static_cast<guint>(byte_of[static_cast<size_t>(comp_start)]);
    underline->end_index = static_cast<guint>(byte_of[static_cast<size_t>(comp_end)]);
    pango_attr_list_insert(attrs, underline);
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  pango_layout_get_pixel_size(layout, &width, &height);
}

UiColor CEditUI::InkColor() const {
  if ((textcolor_ >> 24) != 0 || manager_ == nullptr) return textcolor_;
  return manager_->GetDefaultTextColor();
}

int CEditUI::PrevStop(int from, bool by_word) const {
  if (manager_ == nullptr) return std::max(0, from - 1);
  Line line(manager_->MeasureContext(), *this, false);
  int n = 0;
  const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(line.layout, &n);
  for (int i = from - 1; i > 0 && i < n; --i) {
    if (by_word ? attrs[i].is_word_start : attrs[i].is_cursor_position) return i;
  }
  return 0;
}

int CEditUI::NextStop(int from, bool by_word) const {
  int end = static_cast<int>(text_.size());
  if (manager_ == nullptr) return std::min(end, from + 1);
  Line line(manager_->MeasureContext(), *this, false);
  int n = 0;
  const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(line.layout, &n);
  for (int i = from + 1; i < end && i < n; ++i) {
    if (by_word ? attrs[i].is_word_end : attrs[i].is_cursor_position) return i;
  }
  return end;
}

void CEditUI::SelectWordAt(int index) {
  int n = static_cast<int>(text_.size());
  if (manager_ == nullptr || n == 0) return;
  Line line(manager_->MeasureContext(), *this, false);
  int count = 0;
  const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(line.layout, &count);
  // The run between the word boundaries around the character clicked: a
  // word, or the spaces and punctuation between two words.
  int at = std::clamp(index, 0, n - 1);
  auto boundary = [&](int i) {
    return i <= 0 || i >= n || i >= count || attrs[i].is_word_start || attrs[i].is_word_end;
  };
  int start = at, end = at + 1;
  while (!boundary(start)) --start;
  while (!boundary(end)) ++end;
  SetSel(start, end);
}

double CEditUI::TextLeft(double text_width) const {
  UiRect box = TextRect();
  double room = box.width() - 1;
  double offset = 0;
  if (text_width < room && (align_ & kAlignCenter)) offset = (room - text_width) / 2;
  if (text_width < room && (align_ & kAlignRight)) offset = room - text_width;
  return box.left - scroll_ + offset;
}

int CEditUI::IndexAt(int x) const {
  if (manager_ == nullptr) return GetCaretPos();
  Line line(manager_->MeasureContext(), *this, false);
  int index = 0, trailing = 0;
  double local = x - TextLeft(line.width);
  pango_layout_xy_to_index(line.layout, static_cast<int>(local * PANGO_SCALE), PANGO_SCALE,
                           &index, &trailing);
  // `trailing` counts the characters of the grapheme when the click fell on
  // its second half: the boundary after it is the nearer one.
  return std::clamp(line.CharAt(index) + trailing, 0, static_cast<int>(text_.size()));
}

void CEditUI::ScrollToCaret(double caret_x, double text_width) {
  double room = TextRect().width() - 1;  // the caret's own pixel at the right
  if (text_width <= room) {
    scroll_ = 0;
    return;
  }
  if (caret_x - scroll_ > room) scroll_ = caret_x - room;
  if (caret_x < scroll_) scroll_ = caret_x;
  // After deleting at the end, no empty band is left at the right.
  scroll_ = std::clamp(scroll_, 0.0, text_width - room);
}

void CEditUI::PaintSelection(cairo_t* cr, const Line& line, double y, bool focused) {
  int s = 0, e = 0;
  GetSel(&s, &e);
  if (s == e || line.comp_end > line.comp_start) return;
  PangoLayoutLine* first = pango_layout_get_line_readonly(line.layout, 0);
  int* ranges = nullptr;
  int count = 0;
  pango_layout_line_get_x_ranges(first, line.Byte(s), line.Byte(e), &ranges, &count);
  double left = TextLeft(line.width);
  cairo_save(cr);
  cairo_new_path(cr);
  for (int i = 0; i < count; ++i) {
    double x0 = left + ranges[2 * i] / static_cast<double>(PANGO_SCALE);
    double x1 = left + ranges[2 * i + 1] / static_cast<double>(PANGO_SCALE);
    cairo_rectangle(cr, x0, y, x1 - x0, line.height);
  }
  g_free(ranges);
  SetSourceColor(cr, focused ? kSelectionFocused : kSelectionUnfocused);
  cairo_fill_preserve(cr);
  // The selected characters again, inside the highlight, in its contrast colour.
  cairo_clip(cr);
  SetSourceColor(cr, focused ? 0xFFFFFFFF : InkColor());
  cairo_move_to(cr, left, y);
  pango_cairo_show_layout(cr, line.layout);
  cairo_restore(cr);
}

void CEditUI::PaintCaret(cairo_t* cr, const Line& line, double y) {
  int at = GetCaretPos();
  if (line.comp_end > line.comp_start) at = line.comp_start + composition_cursor_;
  PangoRectangle pos = line.Cursor(at);
  double x = std::floor(TextLeft(line.width) + pos.x / static_cast<double>(PANGO_SCALE));
  double top = y + pos.y / static_cast<double>(PANGO_SCALE);
  double h = pos.height / static_cast<double>(PANGO_SCALE);
  int left = static_cast<int>(x);
  caret_rect_ = UiRect{left, static_cast<int>(std::floor(top)), left + 1,
                       static_cast<int>(std::ceil(top + h))};
  if (manager_ != nullptr) manager_->SetTextInputRect(this, caret_rect_);
  if (!caret_on_) return;
  SetSourceColor(cr, InkColor());
  cairo_rectangle(cr, x, top, 1, h);
  cairo_fill(cr);
}

void CEditUI::DoPaint(cairo_t* cr) {
  bool focused = HasFocus();
  PaintBkColor(cr);
  PaintBkImage(cr);
  PaintImage(cr, focused && !focused_image_.empty() ? focused_image_ : normal_image_);
  UiRect box = TextRect();
  if (manager_ != nullptr && !box.empty()) {
    Line line(cr, *this, true);
    int caret = line.comp_end > line.comp_start ? line.comp_start + composition_cursor_
                                                : GetCaretPos();
    ScrollToCaret(line.Cursor(caret).x / static_cast<double>(PANGO_SCALE), line.width);
    double y = box.top;
    if (align_ & kAlignVCenter) y = box.top + (box.height() - line.height) / 2.0;
    if (align_ & kAlignBottom) y = box.bottom - line.height;
    y = std::floor(y);
    cairo_save(cr);
    cairo_rectangle(cr, box.left, rect_.top, box.width(), rect_.height());
    cairo_clip(cr);
    SetSourceColor(cr, IsEnabled() ? InkColor() : disabledtextcolor_);
    cairo_move_to(cr, TextLeft(line.width), y);
    pango_cairo_show_layout(cr, line.layout);
    PaintSelection(cr, line, y, focused);
    if (focused) PaintCaret(cr, line, y);
    cairo_restore(cr);
  }
  if (focused) {
    StrokeRoundRect(cr, rect_, kFocusBorder, 1.5, borderround_);
    return;
  }
  PaintBorder(cr);
}

}  // namespace ui
