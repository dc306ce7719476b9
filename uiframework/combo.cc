#include <algorithm>

#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

namespace {
constexpr int kMaxListItems = 8;
const std::wstring kEmpty;
}  // namespace

CComboUI::CComboUI() {
  mouse_enabled_ = true;
  textpadding_ = UiRect{10, 0, 28, 0};
}

bool CComboUI::SelectItem(int index, bool take_focus, bool notify) {
  if (index < 0 || index >= GetCount()) return false;
  if (take_focus && manager_ != nullptr) manager_->SetFocus(this);
  if (index == cur_sel_) return true;
  int old = cur_sel_;
  cur_sel_ = index;
  Invalidate();
  if (notify && manager_ != nullptr) {
    manager_->SendNotify(this, L"itemselect", static_cast<uintptr_t>(index), old);
  }
  return true;
}

const std::wstring& CComboUI::GetText() const {
  CControlUI* item = GetItemAt(cur_sel_);
  return item != nullptr ? item->GetText() : kEmpty;
}

void CComboUI::SetAttribute(std::string_view name, std::string_view value) {
  if (name == "itemheight") {
    item_height_ = std::max(12, std::atoi(std::string(value).c_str()));
  } else if (name == "normalimage") {
    normal_image_ = std::string(value);
  } else if (name == "hotimage") {
    hot_image_ = std::string(value);
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

void CComboUI::SetPos(const UiRect& rect) {
  CControlUI::SetPos(rect);
  // Items are laid out only in the open list; see ListRect().
  UiRect list = ListRect();
  int row = 0;
  for (auto& item : items_) {
    if (!item->IsOwnVisible()) continue;
    item->SetPos(UiRect{list.left, list.top + row * item_height_, list.right,
                        list.top + (row + 1) * item_height_});
    ++row;
  }
}

void CComboUI::SetDropped(bool dropped) {
  if (dropped == dropped_) return;
  dropped_ = dropped;
  hot_item_ = -1;
  if (manager_ != nullptr) manager_->SetOverlay(dropped ? this : nullptr);
  if (dropped) SetPos(rect_);
}

UiRect CComboUI::ListRect() const {
  int visible = 0;
  for (auto& item : items_) visible += item->IsOwnVisible() ? 1 : 0;
  int h = std::min(visible, kMaxListItems) * item_height_ + 2;
  UiRect below{rect_.left, rect_.bottom + 2, rect_.right, rect_.bottom + 2 + h};
  // Open upwards when the window ends too early below the combo.
  if (manager_ != nullptr && below.bottom > manager_->GetClientSize().cy && rect_.top - h - 2 >= 0) {
    return UiRect{rect_.left, rect_.top - 2 - h, rect_.right, rect_.top - 2};
  }
  return below;
}

int CComboUI::ItemAt(int x, int y) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i]->IsOwnVisible() && items_[i]->GetPos().contains(x, y)) return static_cast<int>(i);
  }
  return -1;
}

CControlUI* CComboUI::FindControlAt(int x, int y) {
  if (!IsOwnVisible()) return nullptr;
  if (rect_.contains(x, y) || (dropped_ && ListRect().contains(x, y))) return this;
  return nullptr;
}

void CComboUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  (void)wheel;
  if (!IsEnabled()) return;
  if (event == MouseEvent::kMove && dropped_) {
    int hot = ItemAt(x, y);
    if (hot != hot_item_) {
      hot_item_ = hot;
      Invalidate();
    }
  } else if (event == MouseEvent::kUp && manager_ != nullptr && manager_->GetPushed() == this) {
    if (rect_.contains(x, y)) {
      SetDropped(!dropped_);
    } else if (dropped_) {
      int item = ItemAt(x, y);
      SetDropped(false);
      if (item >= 0) SelectItem(item);
    }
  }
  Invalidate();
}

bool CComboUI::OnKeyDown(const KeyEvent& event) {
  if (!IsEnabled()) return false;
  if (event.key == kKeySpace || event.key == kKeyReturn ||
      (event.key == kKeyDown && event.alt())) {
    SetDropped(!dropped_);
    return true;
  }
  if (event.key != kKeyUp && event.key != kKeyDown) return false;
  // Hidden items are not offered, so the keys step over them as the list does.
  int step = event.key == kKeyDown ? 1 : -1;
  for (int i = cur_sel_ + step; i >= 0 && i < GetCount(); i += step) {
    if (GetItemAt(i)->IsOwnVisible()) {
      SelectItem(i);
      break;
    }
  }
  return true;
}

void CComboUI::OnFocus(bool focused) {
  if (!focused) SetDropped(false);
}

void CComboUI::DoPaint(cairo_t* cr) {
  PaintBkColor(cr);
  PaintBkImage(cr);
  bool hot = manager_ != nullptr && manager_->GetHot() == this;
  PaintImage(cr, hot && !hot_image_.empty() ? hot_image_ : normal_image_);
  PaintBorder(cr);
  CControlUI* item = GetItemAt(cur_sel_);
  if (item != nullptr) {
    PaintTextIn(cr, TextRect(), item->GetText(), IsEnabled() ? textcolor_ : disabledtextcolor_,
                kAlignLeft | kAlignVCenter | kTextSingleLine);
  }
  // The drop-down arrow: a small chevron at the right end.
  double cx = rect_.right - 16, cy = (rect_.top + rect_.bottom) / 2.0;
  SetSourceColor(cr, 0xFF6B7280);
  cairo_set_line_width(cr, 1.6);
  cairo_move_to(cr, cx - 4.5, cy - (dropped_ ? -2 : 2));
  cairo_line_to(cr, cx, cy + (dropped_ ? -3 : 3));
  cairo_line_to(cr, cx + 4.5, cy - (dropped_ ? -2 : 2));
  cairo_stroke(cr);
}

void CComboUI::PaintList(cairo_t* cr) {
  UiRect list = ListRect();
  // A soft shadow lifts the list off the page.
  FillRoundRect(cr, UiRect{list.left + 1, list.top + 3, list.right + 1, list.bottom + 4}, 0x22000000, 6);
  FillRoundRect(cr, list, 0xFFFFFFFF, 6);
  StrokeRoundRect(cr, list, 0xFFD5DAE1, 1, 6);
  for (size_t i = 0; i < items_.size(); ++i) {
    CControlUI* item = items_[i].get();
    if (!item->IsOwnVisible()) continue;
    UiRect r = item->GetPos();
    if (r.bottom > list.bottom) break;
    bool sel = static_cast<int>(i) == cur_sel_;
    if (static_cast<int>(i) == hot_item_ || sel) {
      FillRoundRect(cr, UiRect{r.left + 3, r.top + 1, r.right - 3, r.bottom - 1},
                    sel ? 0xFFE8F0FF : 0xFFF2F4F7, 4);
    }
    PaintTextIn(cr, UiRect{r.left + 10, r.top, r.right - 8, r.bottom}, item->GetText(),
                sel ? 0xFF2F7BFF : 0xFF1F2937, kAlignLeft | kAlignVCenter | kTextSingleLine);
  }
}

}  // namespace ui
