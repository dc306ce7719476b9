#include "uiframework/containers.h"

#include <algorithm>
#include <string>

#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

namespace {
constexpr int kScrollStep = 40;
constexpr int kScrollBarWidth = 6;
}  // namespace

CControlUI* CContainerUI::GetItemAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

int CContainerUI::GetItemIndex(const CControlUI* control) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == control) return static_cast<int>(i);
  }
  return -1;
}

void CContainerUI::Add(std::unique_ptr<CControlUI> control) {
  control->SetManager(manager_, this);
  items_.push_back(std::move(control));
  if (manager_ != nullptr) manager_->NeedUpdate();
}

void CContainerUI::SetAttribute(std::string_view name, std::string_view value) {
  if (name == "inset") {
    parseRect(value, &inset_);
  } else if (name == "childpadding") {
    childpadding_ = std::atoi(std::string(value).c_str());
  } else if (name == "vscrollbar") {
    vscroll_ = parseBool(value);
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CContainerUI* parent) {
  CControlUI::SetManager(manager, parent);
  for (auto& item : items_) item->SetManager(manager, this);
}

UiRect CContainerUI::Inner() const {
  return UiRect{rect_.left + inset_.left, rect_.top + inset_.top, rect_.right - inset_.right,
                rect_.bottom - inset_.bottom};
}

void CContainerUI::PlaceFloat(CControlUI* child) {
  const UiRect& p = child->GetFloatPos();
  int w = p.right > p.left ? p.width() : child->GetFixedWidth();
  int h = p.bottom > p.top ? p.height() : child->GetFixedHeight();
  UiRect r{rect_.left + p.left, rect_.top + p.top, rect_.left + p.left + w,
           rect_.top + p.top + h};
  child->SetPos(r);
}

void CContainerUI::SetPos(const UiRect& rect) {
  CControlUI::SetPos(rect);
  UiRect inner = Inner();
  for (auto& item : items_) {
    if (item->IsFloat()) {
      PlaceFloat(item.get());
      continue;
    }
    const UiRect& pad = item->GetPadding();
    UiRect r{inner.left + pad.left, inner.top + pad.top, inner.right - pad.right,
             inner.bottom - pad.bottom};
    if (item->GetFixedWidth() > 0) r.right = r.left + item->GetFixedWidth();
    if (item->GetFixedHeight() > 0) r.bottom = r.top + item->GetFixedHeight();
    item->SetPos(r);
  }
}

void CContainerUI::LayoutLinear(bool vertical) {
  UiRect inner = Inner();
  int avail = vertical ? inner.height() : inner.width();
  int fixed_total = 0, autos = 0, count = 0;
  for (auto& item : items_) {
    if (item->IsFloat() || !item->IsOwnVisible()) continue;
    const UiRect& pad = item->GetPadding();
    int size = vertical ? item->GetFixedHeight() : item->GetFixedWidth();
    fixed_total += vertical ? pad.top + pad.bottom : pad.left + pad.right;
    if (size > 0) {
      fixed_total += size;
    } else {
      ++autos;
    }
    ++count;
  }
  if (count > 1) fixed_total += childpadding_ * (count - 1);
  int auto_size = autos > 0 ? std::max(0, (avail - fixed_total) / autos) : 0;
  int total = fixed_total + auto_size * autos;
  scroll_range_ = vscroll_ && vertical ? std::max(0, total - avail) : 0;
  scroll_ = std::clamp(scroll_, 0, scroll_range_);
  int cursor = vertical ? inner.top - scroll_ : inner.left;
  for (auto& item : items_) {
    if (item->IsFloat()) {
      PlaceFloat(item.get());
      continue;
    }
    if (!item->IsOwnVisible()) continue;
    const UiRect& pad = item->GetPadding();
    UiRect r;
    if (vertical) {
      int h = item->GetFixedHeight() > 0 ? item->GetFixedHeight() : auto_size;
      int w = item->GetFixedWidth() > 0 ? item->GetFixedWidth()
                                         : inner.width() - pad.left - pad.right;
      r = UiRect{inner.left + pad.left, cursor + pad.top, inner.left + pad.left + w,
                 cursor + pad.top + h};
      cursor = r.bottom + pad.bottom + childpadding_;
    } else {
      int w = item->GetFixedWidth() > 0 ? item->GetFixedWidth() : auto_size;
      int h = item->GetFixedHeight() > 0 ? item->GetFixedHeight()
                                          : inner.height() - pad.top - pad.bottom;
      r = UiRect{cursor + pad.left, inner.top + pad.top, cursor + pad.left + w,
                 inner.top + pad.top + h};
      cursor = r.right + pad.right + childpadding_;
    }
    item->SetPos(r);
  }
}

bool CContainerUI::IsChildShown(const CControlUI* child) const {
  (void)child;
  return true;
}

void CContainerUI::SetScrollPos(int pos) {
  int clamped = std::clamp(pos, 0, scroll_range_);
  if (clamped == scroll_) return;
  scroll_ = clamped;
  if (manager_ != nullptr) manager_->NeedUpdate();
}

void CContainerUI::DoPaint(cairo_t* cr) {
  CControlUI::DoPaint(cr);
  cairo_save(cr);
  cairo_rectangle(cr, rect_.left, rect_.top, rect_.width(), rect_.height());
  cairo_clip(cr);
  for (auto& item : items_) {
    if (!item->IsOwnVisible() || !IsChildShown(item.get())) continue;
    const UiRect& r = item->GetPos();
    if (r.bottom < rect_.top || r.top > rect_.bottom) continue;
    item->DoPaint(cr);
  }
  if (scroll_range_ > 0) {
    // A thin bar: the scroll position is visible without a heavy control.
    int h = rect_.height();
    int thumb = std::max(24, h * h / (h + scroll_range_));
    int top = rect_.top + (h - thumb) * scroll_ / scroll_range_;
    FillRoundRect(cr, UiRect{rect_.right - kScrollBarWidth - 2, top, rect_.right - 2, top + thumb},
                  0x66000000, 3);
  }
  cairo_restore(cr);
}

CControlUI* CContainerUI::FindControlAt(int x, int y) {
  if (!IsOwnVisible() || !rect_.contains(x, y)) return nullptr;
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if (!IsChildShown(it->get())) continue;
    CControlUI* hit = (*it)->FindControlAt(x, y);
    if (hit != nullptr) return hit;
  }
  if (scroll_range_ > 0 || WantsMouse()) return this;
  return nullptr;
}

void CContainerUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  if (event == MouseEvent::kWheel && scroll_range_ > 0) {
    SetScrollPos(scroll_ - wheel * kScrollStep);
    return;
  }
  CControlUI::OnMouse(event, x, y, wheel);
}

void CVerticalLayoutUI::SetPos(const UiRect& rect) {
  CControlUI::SetPos(rect);
  LayoutLinear(true);
}

void CHorizontalLayoutUI::SetPos(const UiRect& rect) {
  CControlUI::SetPos(rect);
  LayoutLinear(false);
}

bool CTabLayoutUI::SelectItem(int index) {
  if (index < 0 || index >= GetCount()) return false;
  if (index != cur_sel_) {
    cur_sel_ = index;
    if (manager_ != nullptr) {
      manager_->NeedUpdate();
      manager_->SendNotify(this, L"tabselect", static_cast<uintptr_t>(index));
    }
  }
  return true;
}

void CTabLayoutUI::SetAttribute(std::string_view name, std::string_view value) {
  if (name == "selectedid") {
    cur_sel_ = std::atoi(std::string(value).c_str());
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

bool CTabLayoutUI::IsChildShown(const CControlUI* child) const {
  return GetItemIndex(child) == cur_sel_;
}

void CTabLayoutUI::SetPos(const UiRect& rect) { CContainerUI::SetPos(rect); }

}  // namespace ui
