#include "uiframework/render.h"

#include <atomic>
#include <cmath>
#include <numbers>
#include <string_view>

#include "uiframework/paint_manager.h"

namespace ui {

constexpr double kPi = std::numbers::pi;

void SetSourceColor(cairo_t* cr, UiColor color) {
  cairo_set_source_rgba(cr, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                        (color & 0xFF) / 255.0, ((color >> 24) & 0xFF) / 255.0);
}

void RoundRectPath(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::min(r, std::min(w, h) / 2);
  if (r <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

void FillRoundRect(cairo_t* cr, const UiRect& rect, UiColor color, double radius) {
  if (rect.empty() || (color >> 24) == 0) return;
  SetSourceColor(cr, color);
  RoundRectPath(cr, rect.left, rect.top, rect.width(), rect.height(), radius);
  cairo_fill(cr);
}

void StrokeRoundRect(cairo_t* cr, const UiRect& rect, UiColor color, double width, double radius) {
  if (rect.empty() || width <= 0 || (color >> 24) == 0) return;
  SetSourceColor(cr, color);
  cairo_set_line_width(cr, width);
  double h = width / 2;
  RoundRectPath(cr, rect.left + h, rect.top + h, rect.width() - width, rect.height() - width,
                radius);
  cairo_stroke(cr);
}

namespace {

std::atomic<const char*> g_textLanguage{nullptr};

void applyTextLanguage(PangoLayout* layout) {
  const char* tag = g_textLanguage.load(std::memory_order_acquire);
  if (tag == nullptr || *tag == '\0') return;
  pango_context_set_language(pango_layout_get_context(layout), pango_language_from_string(tag));
  pango_layout_context_changed(layout);
}

// The value of key='value' in an image imageDesc, or empty.
std::string imageDescValue(const std::string& imageDesc, std::string_view key) {
  std::string pattern = std::string(key) + "='";
  size_t at = imageDesc.find(pattern);
  if (at == std::string::npos) return {};
  at += pattern.size();
  size_t end = imageDesc.find('\'', at);
  return end == std::string::npos ? std::string() : imageDesc.substr(at, end - at);
}

}  // namespace

void DrawImageDesc(cairo_t* cr, CPaintManagerUI* manager, const std::string& imageDesc,
                   const UiRect& rect) {
  if (imageDesc.empty() || manager == nullptr || rect.empty()) return;
  std::string file = imageDesc;
  UiRect source, dest = rect;
  bool has_source = false;
  if (imageDesc.find("file='") != std::string::npos) {
    file = imageDescValue(imageDesc, "file");
    has_source = parseRect(imageDescValue(imageDesc, "source"), &source);
    UiRect d;
    if (parseRect(imageDescValue(imageDesc, "dest"), &d)) {
      dest = UiRect{rect.left + d.left, rect.top + d.top, rect.left + d.right, rect.top + d.bottom};
    }
  }
  cairo_surface_t* image = manager->GetImage(file);
  if (image == nullptr) return;
  int iw = cairo_image_surface_get_width(image);
  int ih = cairo_image_surface_get_height(image);
  if (!has_source || source.empty()) source = UiRect{0, 0, iw, ih};
  if (dest.empty() || source.empty()) return;
  cairo_save(cr);
  cairo_rectangle(cr, dest.left, dest.top, dest.width(), dest.height());
  cairo_clip(cr);
  cairo_translate(cr, dest.left, dest.top);
  cairo_scale(cr, static_cast<double>(dest.width()) / source.width(),
              static_cast<double>(dest.height()) / source.height());
  cairo_set_source_surface(cr, image, -source.left, -source.top);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
}

void SetTextLanguage(const char* tag) { g_textLanguage.store(tag, std::memory_order_release); }

const char* GetTextLanguage() { return g_textLanguage.load(std::memory_order_acquire); }

PangoLayout* CreateTextLayout(cairo_t* cr, const MarkupResult& text, const UiRect& rect,
                              unsigned flags, double* offset_y) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  applyTextLanguage(layout);
  pango_layout_set_markup(layout, text.pango.c_str(), -1);
  pango_layout_set_width(layout, std::max(1, rect.width()) * PANGO_SCALE);
  // Arabic and Hebrew texts lay out right to left; alignment then mirrors.
  pango_layout_set_auto_dir(layout, TRUE);
  if (flags & kTextSingleLine) {
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_height(layout, 0);
  } else {
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  // Pango mirrors left and right for a right-to-left paragraph. A control
  // that asks for the right edge (a button label beside its icon) keeps
  // it; one that asks for the start edge gets the right edge in Arabic.
  PangoAlignment a = PANGO_ALIGN_LEFT;
  if (flags & kAlignCenter) a = PANGO_ALIGN_CENTER;
  if (flags & kAlignRight) {
    PangoLayoutLine* first = pango_layout_get_line_readonly(layout, 0);
    const bool rtl = first != nullptr &&
                     pango_layout_line_get_resolved_direction(first) == PANGO_DIRECTION_RTL;
    a = rtl ? PANGO_ALIGN_LEFT : PANGO_ALIGN_RIGHT;
  }
  pango_layout_set_alignment(layout, a);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  double y = rect.top;
  if (flags & kAlignVCenter) y = rect.top + (rect.height() - h) / 2.0;
  if (flags & kAlignBottom) y = rect.bottom - h;
  *offset_y = std::floor(y);
  return layout;
}

PangoLayout* CreatePlainLayout(cairo_t* cr, const std::string& utf8, const FontSpec& font,
                               int wrap_width) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  applyTextLanguage(layout);
  PangoFontDescription* desc =
      pango_font_description_from_string(pangoFontDescription(font).c_str());
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  pango_layout_set_auto_dir(layout, TRUE);
  if (wrap_width > 0) {
    pango_layout_set_width(layout, wrap_width * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  return layout;
}

void DrawFocusRing(cairo_t* cr, const UiRect& rect) {
  constexpr double kInset = 2.5;  // half a pixel more puts the line on pixels
  double w = rect.width() - 2 * kInset, h = rect.height() - 2 * kInset;
  if (w <= 0 || h <= 0) return;
  static const double kDash[] = {1.0, 1.0};
  cairo_save(cr);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, rect.left + kInset, rect.top + kInset, w, h);
  SetSourceColor(cr, 0xCCFFFFFF);
  cairo_stroke_preserve(cr);
  // The path starts half a pixel into one; so must the first dot, or every
  // dot smears over two pixels into a grey line.
  cairo_set_dash(cr, kDash, 2, 0.5);
  SetSourceColor(cr, 0xFF30343B);
  cairo_stroke(cr);
  cairo_restore(cr);
}

int LinkAtPoint(cairo_t* cr, const MarkupResult& text, const UiRect& rect, unsigned flags, int x,
                int y) {
  return LinksAtPoints(cr, text, rect, flags, {{x, y}}).front();
}

std::vector<int> LinksAtPoints(cairo_t* cr, const MarkupResult& text, const UiRect& rect,
                               unsigned flags, const std::vector<std::pair<int, int>>& points) {
  std::vector<int> out(points.size(), -1);
  if (text.links.empty() || points.empty()) return out;
  double oy = 0;
  PangoLayout* layout = CreateTextLayout(cr, text, rect, flags, &oy);
  for (size_t p = 0; p < points.size(); ++p) {
    int index = 0, trailing = 0;
    if (!pango_layout_xy_to_index(layout, (points[p].first - rect.left) * PANGO_SCALE,
                                  static_cast<int>((points[p].second - oy) * PANGO_SCALE), &index,
                                  &trailing)) {
      continue;
    }
    for (size_t i = 0; i < text.links.size(); ++i) {
      if (index >= text.links[i].start && index < text.links[i].end) {
        out[p] = static_cast<int>(i);
        break;
      }
    }
  }
  g_object_unref(layout);
  return out;
}

}  // namespace ui
