#include "uiframework/controls.h"

#include <algorithm>
#include <functional>
#include <string>

#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

void CLabelUI::SetAttribute(std::string_view name, std::string_view value) {
  if (name == "multiline" || name == "wordbreak") {
    multiline_ = parseBool(value);
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CLabelUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  PaintTextIn(cr, TextRect(), GetText(), IsEnabled() ? textcolor_ : disabledtextcolor_,
              align_ | (multiline_ ? 0u : kTextSingleLine));
  PaintBorder(cr);
}

CTextUI::CTextUI() {
  multiline_ = true;
  align_ = kAlignLeft | kAlignTop;
}

int CTextUI::LinkAt(int x, int y) const {
  if (manager_ == nullptr) return -1;
  MarkupStyle style;
  style.fonts = &manager_->GetFonts();
  style.base_font = font_ >= 0 ? font_ : manager_->GetDefaultFont();
  MarkupResult markup = convertMarkup(GetText(), style);
  return LinkAtPoint(manager_->MeasureContext(), markup, TextRect(),
                     align_ | (multiline_ ? 0u : kTextSingleLine), x, y);
}

bool CTextUI::WantsMouse() const {
  return mouse_enabled_ || GetText().find(L"{a") != std::wstring::npos;
}

void CTextUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  (void)wheel;
  int link = event == MouseEvent::kLeave ? -1 : LinkAt(x, y);
  if (link != hot_link_) {
    hot_link_ = link;
    Invalidate();
  }
  if (event == MouseEvent::kUp && link >= 0 && manager_ != nullptr &&
      manager_->GetPushed() == this) {
    manager_->SendNotify(this, L"link", static_cast<uintptr_t>(link));
  }
}

void CTextUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  PaintTextIn(cr, TextRect(), GetText(), IsEnabled() ? textcolor_ : disabledtextcolor_,
              align_ | (multiline_ ? 0u : kTextSingleLine), hot_link_);
  PaintBorder(cr);
}

CButtonUI::CButtonUI() {
  mouse_enabled_ = true;
  align_ = kAlignCenter | kAlignVCenter;
}

void CButtonUI::SetAttribute(std::string_view name, std::string_view value) {
  UiColor c;
  if (name == "normalimage") {
    normal_image_ = std::string(value);
  } else if (name == "hotimage") {
    hot_image_ = std::string(value);
  } else if (name == "pushedimage") {
    pushed_image_ = std::string(value);
  } else if (name == "disabledimage") {
    disabled_image_ = std::string(value);
  } else if (name == "foreimage") {
    fore_image_ = std::string(value);
  } else if (name == "hottextcolor") {
    if (parseColor(value, &c)) hot_text_color_ = c;
  } else if (name == "pushedtextcolor") {
    if (parseColor(value, &c)) pushed_text_color_ = c;
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

const std::string& CButtonUI::StateImage() const {
  bool hot = manager_ != nullptr && manager_->GetHot() == this;
  bool pushed = hot && manager_->GetPushed() == this;
  if (!IsEnabled() && !disabled_image_.empty()) return disabled_image_;
  if (pushed && !pushed_image_.empty()) return pushed_image_;
  if ((hot || pushed) && !hot_image_.empty()) return hot_image_;
  return normal_image_;
}

UiColor CButtonUI::StateTextColor() const {
  if (!IsEnabled()) return disabledtextcolor_;
  bool hot = manager_ != nullptr && manager_->GetHot() == this;
  if (hot && manager_->GetPushed() == this && pushed_text_color_ != 0) return pushed_text_color_;
  if (hot && hot_text_color_ != 0) return hot_text_color_;
  return textcolor_;
}

void CButtonUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  PaintImage(cr, StateImage());
  PaintImage(cr, fore_image_);
  PaintTextIn(cr, TextRect(), GetText(), StateTextColor(),
              align_ | (multiline_ ? 0u : kTextSingleLine));
  PaintBorder(cr);
}

void CButtonUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  (void)wheel;
  if (event == MouseEvent::kMove || event == MouseEvent::kDown || event == MouseEvent::kLeave) {
    Invalidate();
    return;
  }
  if (event == MouseEvent::kUp && manager_ != nullptr && manager_->GetPushed() == this &&
      rect_.contains(x, y) && IsEnabled()) {
    Activate();
    manager_->SendNotify(this, L"click");
  }
  Invalidate();
}

bool CButtonUI::OnKeyDown(const KeyEvent& event) {
  // Space and Enter press the focused button as a click does, whatever
  // state images say: the window cannot tell the two apart.
  bool press = (event.key == kKeySpace || event.key == kKeyReturn) && !event.ctrl() && !event.alt();
  if (!press || !IsEnabled() || manager_ == nullptr) return CLabelUI::OnKeyDown(event);
  Activate();
  manager_->SendNotify(this, L"click");
  Invalidate();
  return true;
}

void COptionUI::SetAttribute(std::string_view name, std::string_view value) {
  UiColor c;
  if (name == "group") {
    group_ = std::string(value);
  } else if (name == "selected") {
    selected_ = parseBool(value);
  } else if (name == "selectedimage") {
    selected_image_ = std::string(value);
  } else if (name == "selectedhotimage") {
    selected_hot_image_ = std::string(value);
  } else if (name == "selectedtextcolor") {
    if (parseColor(value, &c)) selected_text_color_ = c;
  } else {
    CButtonUI::SetAttribute(name, value);
  }
}

namespace {

// Calls `fn` for every option of `root`'s tree in group `group`.
void forEachInGroup(CControlUI* root, const std::string& group,
                    const std::function<void(COptionUI*)>& fn) {
  if (root == nullptr) return;
  if (auto* option = dynamic_cast<COptionUI*>(root); option && option->GetGroup() == group) {
    fn(option);
  }
  if (auto* container = dynamic_cast<CContainerUI*>(root)) {
    for (int i = 0; i < container->GetCount(); ++i) forEachInGroup(container->GetItemAt(i), group, fn);
  }
}

}  // namespace

void COptionUI::Selected(bool selected, bool notify) {
  if (selected == selected_) return;
  selected_ = selected;
  if (selected && !group_.empty() && manager_ != nullptr) {
    forEachInGroup(manager_->GetRoot(), group_, [this](COptionUI* other) {
      if (other != this && other->IsSelected()) other->Selected(false, false);
    });
  }
  if (notify && manager_ != nullptr) manager_->SendNotify(this, L"selectchanged");
  Invalidate();
}

void COptionUI::Activate() {
  if (group_.empty()) {
    Selected(!selected_);
  } else if (selected_) {
    // Choosing the current option again still tells the window, which may
    // restart what the option drives (a carousel interval, say).
    if (manager_ != nullptr) manager_->SendNotify(this, L"selectchanged");
  } else {
    Selected(true);
  }
}

const std::string& COptionUI::StateImage() const {
  if (selected_) {
    bool hot = manager_ != nullptr && manager_->GetHot() == this;
    if (hot && !selected_hot_image_.empty()) return selected_hot_image_;
    if (!selected_image_.empty()) return selected_image_;
  }
  return CButtonUI::StateImage();
}

void CProgressUI::SetValue(int value) {
  value = std::clamp(value, min_, max_);
  if (value_.exchange(value) != value) Invalidate();
}

void CProgressUI::SetAttribute(std::string_view name, std::string_view value) {
  UiColor c;
  int v = std::atoi(std::string(value).c_str());
  if (name == "min") {
    min_ = v;
  } else if (name == "max") {
    max_ = std::max(v, min_ + 1);
  } else if (name == "value") {
    value_ = v;
  } else if (name == "foreimage") {
    fore_image_ = std::string(value);
  } else if (name == "forecolor") {
    if (parseColor(value, &c)) fore_color_ = c;
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CProgressUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  int span = max_ - min_;
  int width = span > 0 ? rect_.width() * (GetValue() - min_) / span : 0;
  if (width > 0) {
    UiRect fore{rect_.left, rect_.top, rect_.left + width, rect_.bottom};
    cairo_save(cr);
    cairo_rectangle(cr, fore.left, fore.top, fore.width(), fore.height());
    cairo_clip(cr);
    if (!fore_image_.empty()) {
      PaintImage(cr, fore_image_);
    } else {
      FillRoundRect(cr, rect_, fore_color_, borderround_);
    }
    cairo_restore(cr);
  }
  PaintTextIn(cr, TextRect(), GetText(), textcolor_, align_ | kTextSingleLine);
  PaintBorder(cr);
}

}  // namespace ui
