#include "uiframework/tooltip.h"

#include <algorithm>
#include <cstdlib>

#include "common/text.h"
#include "uiframework/containers.h"
#include "uiframework/paint_manager.h"
#include "uiframework/render.h"

namespace ui {

namespace {

constexpr int kMaxTipWidth = 320;
constexpr int kPadX = 8, kPadY = 5;
// A resting hand still shakes a little; a few pixels do not restart the wait.
constexpr int kStillRadius = 3;
// The box sits below and right of the pointer, clear of the arrow.
constexpr int kOffsetX = 12, kOffsetY = 20;
constexpr UiColor kTipBack = 0xFFFFFFFF, kTipBorder = 0xFFB8BFCA, kTipText = 0xFF1F2937;

}  // namespace

CControlUI* FindToolTipControl(CControlUI* root, int x, int y) {
  if (root == nullptr || !root->IsOwnVisible() || !root->GetPos().contains(x, y)) return nullptr;
  if (auto* container = dynamic_cast<CContainerUI*>(root)) {
    // Later children are drawn over earlier ones, so they answer first.
    for (int i = container->GetCount() - 1; i >= 0; --i) {
      CControlUI* child = container->GetItemAt(i);
      if (!container->IsChildShown(child)) continue;
      if (CControlUI* hit = FindToolTipControl(child, x, y)) return hit;
    }
  }
  return root->GetToolTip().empty() ? nullptr : root;
}

void ToolTipTracker::OnPointerMove(CControlUI* root, int x, int y) {
  CControlUI* control = FindToolTipControl(root, x, y);
  if (control != control_) {
    Hide();
    suppressed_ = false;
    control_ = control;
    if (control_ != nullptr) Arm(control_, x, y);
    return;
  }
  if (control_ == nullptr || shown_ || suppressed_) return;
  if (std::abs(x - x_) > kStillRadius || std::abs(y - y_) > kStillRadius) Arm(control_, x, y);
}

void ToolTipTracker::Arm(CControlUI* control, int x, int y) {
  control_ = control;
  x_ = x;
  y_ = y;
  armed_ = true;
  manager_->SetUiTimer(CPaintManagerUI::kToolTipTimerSlot, kToolTipDelayMs);
}

void ToolTipTracker::Hide(bool until_leave) {
  if (armed_) manager_->KillUiTimer(CPaintManagerUI::kToolTipTimerSlot);
  armed_ = false;
  if (until_leave) suppressed_ = true;
  if (!shown_) return;
  shown_ = false;
  text_.clear();
  box_ = UiRect{};
  manager_->Invalidate();
}

void ToolTipTracker::OnDelayElapsed() {
  manager_->KillUiTimer(CPaintManagerUI::kToolTipTimerSlot);
  if (!armed_) return;
  armed_ = false;
  if (control_ == nullptr || suppressed_ || !control_->IsVisible()) return;
  text_ = control_->GetToolTip();
  box_ = PlaceBox(x_, y_);
  shown_ = true;
  manager_->Invalidate();
}

void ToolTipTracker::Forget(const CControlUI* control) {
  if (control != control_) return;
  Hide();
  control_ = nullptr;
}

UiRect ToolTipTracker::PlaceBox(int x, int y) const {
  PangoLayout* layout = CreatePlainLayout(manager_->MeasureContext(), common::wideToUtf8(text_),
                                          manager_->ResolveFont(-1), kMaxTipWidth);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  w += 2 * kPadX;
  h += 2 * kPadY;
  UiSize client = manager_->GetClientSize();
  int left = x + kOffsetX, top = y + kOffsetY;
  if (left + w > client.cx) left = client.cx - w;
  // No room below the pointer: above it, where the arrow does not cover it.
  if (top + h > client.cy) top = y - h - 4;
  left = std::max(0, left);
  top = std::max(0, top);
  return UiRect{left, top, left + w, top + h};
}

void ToolTipTracker::Paint(cairo_t* cr) const {
  if (!shown_ || box_.empty()) return;
  FillRoundRect(cr, UiRect{box_.left + 1, box_.top + 2, box_.right + 1, box_.bottom + 2},
                0x1F000000, 4);
  FillRoundRect(cr, box_, kTipBack, 4);
  StrokeRoundRect(cr, box_, kTipBorder, 1, 4);
  PangoLayout* layout =
      CreatePlainLayout(cr, common::wideToUtf8(text_), manager_->ResolveFont(-1), kMaxTipWidth);
  SetSourceColor(cr, kTipText);
  cairo_move_to(cr, box_.left + kPadX, box_.top + kPadY);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

}  // namespace ui
