#include "uiframework/focus_order.h"

#include <vector>

#include "uiframework/containers.h"

namespace ui {

namespace {

void flatten(CControlUI* control, std::vector<CControlUI*>* out) {
  out->push_back(control);
  auto* container = dynamic_cast<CContainerUI*>(control);
  if (container == nullptr) return;
  for (int i = 0; i < container->GetCount(); ++i) flatten(container->GetItemAt(i), out);
}

}  // namespace

bool IsTabStop(const CControlUI* control) {
  return control != nullptr && control->WantsFocus() && control->IsKeyboardEnabled() &&
         control->IsVisible() && control->IsEnabled();
}

CControlUI* NextTabStop(CControlUI* root, CControlUI* from, bool forward) {
  if (root == nullptr) return nullptr;
  std::vector<CControlUI*> order;
  flatten(root, &order);
  int n = static_cast<int>(order.size());
  // Where the walk starts: just past `from`, or before the first control.
  int at = forward ? -1 : n;
  for (int i = 0; i < n; ++i) {
    if (order[static_cast<size_t>(i)] == from) at = i;
  }
  for (int step = 1; step <= n; ++step) {
    int i = ((forward ? at + step : at - step) % n + n) % n;
    if (IsTabStop(order[static_cast<size_t>(i)])) return order[static_cast<size_t>(i)];
  }
  return nullptr;
}

}  // namespace ui
