#include <algorithm>

#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

namespace {
constexpr int kMaxListItems = 8;
constexpr int kTrackWidth = 8;  // the scroll track at the list's right edge
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
  if (dropped_) ScrollSelectionIntoView();
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
  // Items are laid out only in the open list; see ListRect(). Rows above
  // the scrolled top sit above the list and are neither drawn nor hit.
  UiRect list = ListRect();
  int row = -list_top_;
  for (auto& item : items_) {
    if (!item->IsOwnVisible()) continue;
    item->SetPos(UiRect{list.left, list.top + 1 + row * item_height_, list.right,
                        list.top + 1 + (row + 1) * item_height_});
    ++row;
  }
}

int CComboUI::OfferedCount() const {
  int offered = 0;
  for (auto& item : items_) offered += item->IsOwnVisible() ? 1 : 0;
  return offered;
}

int CComboUI::RowOf(int index) const {
  if (index < 0 || index >= GetCount() || !items_[index]->IsOwnVisible()) return -1;
  int row = 0;
  for (int i = 0; i < index; ++i) row += items_[i]->IsOwnVisible() ? 1 : 0;
  return row;
}

void CComboUI::ScrollListTo(int row) {
  const int top = std::clamp(row, 0, std::max(0, OfferedCount() - kMaxListItems));
  if (top == list_top_) return;
  list_top_ = top;
  hot_item_ = -1;
  SetPos(rect_);
  Invalidate();
}

void CComboUI::ScrollSelectionIntoView() {
  const int row = RowOf(cur_sel_);
  if (row < 0) return;
  if (row < list_top_) ScrollListTo(row);
  else if (row >= list_top_ + kMaxListItems) ScrollListTo(row - kMaxListItems + 1);
}

void CComboUI::SetDropped(bool dropped) {
  if (dropped == dropped_) return;
  dropped_ = dropped;
  hot_item_ = -1;
  if (manager_ != nullptr) manager_->SetOverlay(dropped ? this : nullptr);
  if (dropped) {
    // The list opens with the current choice in its middle where it can.
    const int row = RowOf(cur_sel_);
    list_top_ = -1;  // forces the layout below
    ScrollListTo(row < 0 ? 0 : row - kMaxListItems / 2);
    if (list_top_ < 0) list_top_ = 0;
    SetPos(rect_);
  }
}

UiRect CComboUI::ListRect() const {
  int h = std::min(OfferedCount(), kMaxListItems) * item_height_ + 2;
  UiRect below{rect_.left, rect_.bottom + 2, rect_.right, rect_.bottom + 2 + h};
  // Open upwards when the window ends too early below the combo.
  if (manager_ != nullptr && below.bottom > manager_->GetClientSize().cy && rect_.top - h - 2 >= 0) {
    return UiRect{rect_.left, rect_.top - 2 - h, rect_.right, rect_.top - 2};
  }
  return below;
}

int CComboUI::ItemAt(int x, int y) const {
  const UiRect list = ListRect();
  if (!list.contains(x, y)) return -1;
  if (OfferedCount() > kMaxListItems && x >= list.right - kTrackWidth) return -1;  // the track
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
  if (!IsEnabled()) return;
  if (event == MouseEvent::kWheel) {
    if (dropped_) ScrollListTo(list_top_ - wheel * 3);
    return;
  }
  if (event == MouseEvent::kMove && dropped_) {
    int hot = ItemAt(x, y);
    if (hot != hot_item_) {
      hot_item_ = hot;
      Invalidate();
    }
  } else if (event == MouseEvent::kUp && manager_ != nullptr && manager_->GetPushed() == this) {
    const UiRect list = ListRect();
    if (rect_.contains(x, y)) {
      SetDropped(!dropped_);
    } else if (dropped_ && OfferedCount() > kMaxListItems && list.contains(x, y) &&
               x >= list.right - kTrackWidth) {
      // A click on the track pages towards it, as scroll bars do.
      const int thumbTop = list.top + list.height() * list_top_ / OfferedCount();
      ScrollListTo(list_top_ + (y < thumbTop ? -kMaxListItems : kMaxListItems));
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
    if (r.top < list.top) continue;  // scrolled away above
    bool sel = static_cast<int>(i) == cur_sel_;
    if (static_cast<int>(i) == hot_item_ || sel) {
      FillRoundRect(cr, UiRect{r.left + 3, r.top + 1, r.right - 3, r.bottom - 1},
                    sel ? 0xFFE8F0FF : 0xFFF2F4F7, 4);
    }
    PaintTextIn(cr, UiRect{r.left + 10, r.top, r.right - 8 - kTrackWidth, r.bottom}, item->GetText(),
                sel ? 0xFF2F7BFF : 0xFF1F2937, kAlignLeft | kAlignVCenter | kTextSingleLine);
  }
  const int offered = OfferedCount();
  if (offered > kMaxListItems) {
    // The thumb shows which part of the list is in view.
    const int track = list.height() - 8;
    const int top = list.top + 4 + track * list_top_ / offered;
    const int height = std::max(12, track * kMaxListItems / offered);
    FillRoundRect(cr, UiRect{list.right - kTrackWidth + 1, top, list.right - 3, top + height},
                  0xFFB8C0CC, 2.5);
  }
}

}  // namespace ui
