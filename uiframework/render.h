#ifndef WEBSETUP_UIFRAMEWORK_RENDER_H_
#define WEBSETUP_UIFRAMEWORK_RENDER_H_

// Drawing helpers over Cairo and Pango shared by the controls. Each call
// works on the cairo context it is given; callers on the window's thread.

#include <cairo.h>
#include <pango/pangocairo.h>

#include <string>
#include <utility>
#include <vector>

#include "uiframework/markup.h"
#include "uiframework/ui_types.h"

namespace ui {

class CPaintManagerUI;

void SetSourceColor(cairo_t* cr, UiColor color);
void FillRoundRect(cairo_t* cr, const UiRect& rect, UiColor color, double radius);
void StrokeRoundRect(cairo_t* cr, const UiRect& rect, UiColor color, double width, double radius);
void RoundRectPath(cairo_t* cr, double x, double y, double w, double h, double r);

// Draws the image `imageDesc` names into `rect`: a plain name, or
// "file='name' source='l,t,r,b' dest='l,t,r,b'" where `source` cuts a part
// of the picture and `dest` places it inside `rect`. Missing images draw
// nothing.
void DrawImageDesc(cairo_t* cr, CPaintManagerUI* manager, const std::string& imageDesc,
                   const UiRect& rect);

// Lays out `text` for `rect` with the alignment `flags` (TextAlign). The
// caller owns the layout (g_object_unref). *offset_y receives where the
// first line starts, for the vertical alignment.
PangoLayout* CreateTextLayout(cairo_t* cr, const MarkupResult& text, const UiRect& rect,
                              unsigned flags, double* offset_y);

// A layout of plain `utf8` (no markup) in `font`, one line unless
// `wrap_width` > 0 wraps it at that width. The caller owns the layout.
PangoLayout* CreatePlainLayout(cairo_t* cr, const std::string& utf8, const FontSpec& font,
                               int wrap_width = 0);

// The language texts are written in (a BCP 47 tag such as "ja" or
// "zh-TW", held for the life of the process: pass a literal). Fonts are
// chosen for it where scripts share characters, so Japanese kanji take
// Japanese forms and Traditional Chinese its own; null or "" means the
// process locale. Any thread; layouts made afterwards use it.
void SetTextLanguage(const char* tag);
// The tag SetTextLanguage set last; null when none was.
const char* GetTextLanguage();

// The keyboard focus mark: a 1-pixel dotted rectangle just inside `rect`,
// dark dots over light ones so it shows on dark and light backgrounds.
void DrawFocusRing(cairo_t* cr, const UiRect& rect);

// The index of the link of `text` under window point (x, y), or -1.
int LinkAtPoint(cairo_t* cr, const MarkupResult& text, const UiRect& rect, unsigned flags, int x,
                int y);
// LinkAtPoint for many points, laying the text out once: the link under
// each point, or -1.
std::vector<int> LinksAtPoints(cairo_t* cr, const MarkupResult& text, const UiRect& rect,
                               unsigned flags, const std::vector<std::pair<int, int>>& points);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_RENDER_H_
