#include "uiframework/control.h"

#include <string>

#include "common/text.h"
#include "uiframework/containers.h"
#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  if (manager_ != nullptr) manager_->ReapControl(this);
}

void CControlUI::SetText(const std::wstring& text) {
  if (text == text_) return;
  text_ = text;
  Invalidate();
}

bool CControlUI::IsVisible() const {
  if (!visible_) return false;
  if (parent_ == nullptr) return true;
  return parent_->IsChildShown(this) && parent_->IsVisible();
}

void CControlUI::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

bool CControlUI::IsEnabled() const {
  if (!enabled_) return false;
  return parent_ == nullptr || parent_->IsEnabled();
}

void CControlUI::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Invalidate();
}

void CControlUI::SetFixedWidth(int cx) {
  fixed_.cx = cx;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
  fixed_.cy = cy;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

void CControlUI::SetFloatPos(const UiRect& pos) {
  pos_ = pos;
  float_ = true;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

void CControlUI::SetPos(const UiRect& rect) { rect_ = rect; }

void CControlUI::SetBkImage(const std::string& image) {
  bkimage_ = image;
  Invalidate();
}

void CControlUI::SetBkColor(UiColor color) {
  bkcolor_ = color;
  Invalidate();
}

void CControlUI::SetTextColor(UiColor color) {
  textcolor_ = color;
  Invalidate();
}

void CControlUI::SetFont(int font) {
  font_ = font;
  Invalidate();
}

void CControlUI::SetAttribute(std::string_view name, std::string_view value) {
  UiRect r;
  UiColor c;
  if (name == "name") {
    name_ = common::utf8ToWide(value);
  } else if (name == "text") {
    text_ = common::utf8ToWide(value);
  } else if (name == "tooltip") {
    tooltip_ = common::utf8ToWide(value);
  } else if (name == "pos") {
    if (parseRect(value, &r)) {
      pos_ = r;
      if (fixed_.cx == 0) fixed_.cx = r.width();
      if (fixed_.cy == 0) fixed_.cy = r.height();
    }
  } else if (name == "float") {
    float_ = parseBool(value);
  } else if (name == "width") {
    fixed_.cx = std::atoi(std::string(value).c_str());
  } else if (name == "height") {
    fixed_.cy = std::atoi(std::string(value).c_str());
  } else if (name == "padding") {
    parseRect(value, &padding_);
  } else if (name == "textpadding") {
    parseRect(value, &textpadding_);
  } else if (name == "bkimage") {
    bkimage_ = std::string(value);
  } else if (name == "bkcolor") {
    if (parseColor(value, &c)) bkcolor_ = c;
  } else if (name == "bordercolor") {
    if (parseColor(value, &c)) bordercolor_ = c;
  } else if (name == "bordersize") {
    bordersize_ = std::atoi(std::string(value).c_str());
  } else if (name == "borderround") {
    UiSize s;
    if (parseSize(value, &s)) borderround_ = s.cx;
  } else if (name == "textcolor") {
    if (parseColor(value, &c)) textcolor_ = c;
  } else if (name == "disabledtextcolor") {
    if (parseColor(value, &c)) disabledtextcolor_ = c;
  } else if (name == "font") {
    font_ = std::atoi(std::string(value).c_str());
  } else if (name == "align") {
    align_ &= ~(kAlignCenter | kAlignRight);
    if (value.find("center") != std::string_view::npos) align_ |= kAlignCenter;
    if (value.find("right") != std::string_view::npos) align_ |= kAlignRight;
  } else if (name == "valign") {
    align_ &= ~(kAlignVCenter | kAlignBottom);
    if (value.find("center") != std::string_view::npos) align_ |= kAlignVCenter;
    if (value.find("bottom") != std::string_view::npos) align_ |= kAlignBottom;
  } else if (name == "endellipsis") {
    if (parseBool(value)) align_ |= kTextEndEllipsis;
  } else if (name == "visible") {
    visible_ = parseBool(value);
  } else if (name == "enabled") {
    enabled_ = parseBool(value);
  } else if (name == "mouse") {
    mouse_enabled_ = parseBool(value);
  } else if (name == "keyboard") {
    keyboard_enabled_ = parseBool(value);
  } else {
    custom_[std::string(name)] = std::string(value);
  }
}

std::string CControlUI::GetCustomAttribute(const std::string& name) const {
  auto it = custom_.find(name);
  return it == custom_.end() ? std::string() : it->second;
}

void CControlUI::SetManager(CPaintManagerUI* manager, CContainerUI* parent) {
  manager_ = manager;
  parent_ = parent;
}

void CControlUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  if (!text_.empty()) {
    PaintTextIn(cr, TextRect(), text_, IsEnabled() ? textcolor_ : disabledtextcolor_,
                align_ | kTextSingleLine);
  }
  PaintBorder(cr);
}

CControlUI* CControlUI::FindControlAt(int x, int y) {
  if (!IsOwnVisible() || !rect_.contains(x, y)) return nullptr;
  return WantsMouse() ? this : nullptr;
}

void CControlUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  (void)x;
  (void)y;
  (void)wheel;
  if (event == MouseEvent::kUp && manager_ != nullptr && manager_->GetPushed() == this &&
      rect_.contains(x, y)) {
    manager_->SendNotify(this, L"click");
  }
}

bool CControlUI::OnKeyDown(const KeyEvent& event) {
  OnKey(event.key);
  return false;
}

void CControlUI::Invalidate() {
  if (manager_ != nullptr) manager_->Invalidate();
}

void CControlUI::PaintBkColor(cairo_t* cr) { FillRoundRect(cr, rect_, bkcolor_, borderround_); }

void CControlUI::PaintBkImage(cairo_t* cr) { PaintImage(cr, bkimage_); }

void CControlUI::PaintImage(cairo_t* cr, const std::string& imageDesc) {
  DrawImageDesc(cr, manager_, imageDesc, rect_);
}

void CControlUI::PaintBorder(cairo_t* cr) {
  StrokeRoundRect(cr, rect_, bordercolor_, bordersize_, borderround_);
}

UiRect CControlUI::TextRect() const {
  return UiRect{rect_.left + textpadding_.left, rect_.top + textpadding_.top,
                rect_.right - textpadding_.right, rect_.bottom - textpadding_.bottom};
}

void CControlUI::PaintTextIn(cairo_t* cr, const UiRect& rect, const std::wstring& text,
                             UiColor color, unsigned flags, int hot_link) {
  if (manager_ == nullptr || text.empty() || rect.empty()) return;
  MarkupStyle style;
  style.fonts = &manager_->GetFonts();
  style.base_font = font_ >= 0 ? font_ : manager_->GetDefaultFont();
  style.text_color = (color >> 24) != 0 ? color : manager_->GetDefaultTextColor();
  style.link_color = manager_->GetLinkColor();
  style.link_hover_color = manager_->GetLinkHoverColor();
  style.hot_link = hot_link;
  MarkupResult markup = convertMarkup(text, style);
  double y = 0;
  PangoLayout* layout = CreateTextLayout(cr, markup, rect, flags, &y);
  cairo_save(cr);
  cairo_rectangle(cr, rect.left, rect.top, rect.width(), rect.height());
  cairo_clip(cr);
  cairo_move_to(cr, rect.left, y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

}  // namespace ui
