#ifndef WEBSETUP_UIFRAMEWORK_TOOLTIP_H_
#define WEBSETUP_UIFRAMEWORK_TOOLTIP_H_

// The tooltip of one window: once the pointer has rested on a control with
// a `tooltip` for kToolTipDelayMs, its text shows in a small box near the
// pointer, inside the window; leaving the control, a button or a key hides
// it, and it stays hidden over that control until the pointer leaves it.
// Owned by the window's CPaintManagerUI; window's thread only.

#include <cairo.h>

#include <string>

#include "uiframework/control.h"

namespace ui {

class CPaintManagerUI;

constexpr uint32_t kToolTipDelayMs = 600;

class ToolTipTracker {
 public:
  explicit ToolTipTracker(CPaintManagerUI* manager) : manager_(manager) {}

  // The pointer is at window point (x, y); `root` is the tree under it.
  void OnPointerMove(CControlUI* root, int x, int y);
  // Hides the tip; with `until_leave` it stays hidden over the current
  // control (after a click on it, say).
  void Hide(bool until_leave = false);
  // The delay timer fired: shows the tip when the pointer is still there.
  void OnDelayElapsed();
  // Forgets `control`, which is being destroyed.
  void Forget(const CControlUI* control);

  bool IsShown() const { return shown_; }
  // The text and box of the tip shown now (empty when none).
  const std::wstring& GetText() const { return text_; }
  const UiRect& GetRect() const { return box_; }
  void Paint(cairo_t* cr) const;

 private:
  void Arm(CControlUI* control, int x, int y);
  UiRect PlaceBox(int x, int y) const;

  CPaintManagerUI* manager_;
  CControlUI* control_ = nullptr;  // the control under the pointer
  int x_ = 0, y_ = 0;              // where the pointer rests
  bool armed_ = false;             // the delay runs
  bool suppressed_ = false;        // hidden until the pointer leaves control_
  bool shown_ = false;
  std::wstring text_;
  UiRect box_;
};

// The deepest shown control at window point (x, y) of `root`'s tree that
// has a tooltip, whether or not it takes the mouse; null when none.
CControlUI* FindToolTipControl(CControlUI* root, int x, int y);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_TOOLTIP_H_
