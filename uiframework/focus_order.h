#ifndef WEBSETUP_UIFRAMEWORK_FOCUS_ORDER_H_
#define WEBSETUP_UIFRAMEWORK_FOCUS_ORDER_H_

// The order Tab walks the controls of a window: tree order (a container
// before its children, children first to last), stopping only at controls
// a person can use from the keyboard. Pure functions over the tree;
// window's thread only.

#include "uiframework/control.h"

namespace ui {

// Whether Tab stops at `control`: it is visible (its page too), enabled,
// takes the focus and has not been taken off the keyboard (keyboard="false").
bool IsTabStop(const CControlUI* control);

// The tab stop after `from` (forward) or before it in tree order, wrapping
// around at the ends. `from` need not be a tab stop itself (a button
// hidden since it took the focus); null starts before the first control
// (forward) or after the last. Returns null when the tree has no tab stop,
// and `from` when it is the only one.
CControlUI* NextTabStop(CControlUI* root, CControlUI* from, bool forward);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_FOCUS_ORDER_H_
