#ifndef WEBSETUP_UIFRAMEWORK_PAINT_MANAGER_H_
#define WEBSETUP_UIFRAMEWORK_PAINT_MANAGER_H_

// CPaintManagerUI: what one window knows of its layout. It owns the control
// tree, the fonts, the default attributes and the image cache, lays the
// tree out, paints it, routes mouse and keyboard input and sends
// notifications. Owned by its window; window's thread only.

#include <cairo.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "uiframework/clipboard.h"
#include "uiframework/control.h"
#include "uiframework/markup.h"
#include "uiframework/skin_archive.h"
#include "uiframework/tooltip.h"

namespace ui {

// A notification of a control, as DuiLib's TNotifyUI.
struct TNotifyUI {
  std::wstring sType;  // "click", "link", "itemselect", "selectchanged", ...
  CControlUI* pSender = nullptr;
  uintptr_t wParam = 0;  // "link": the link index; "itemselect": new index
  intptr_t lParam = 0;   // "itemselect": previous index
};

class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

// What a paint manager needs from the window that shows it: the desktop's
// clipboard, the input method, and timers on the window's message loop.
// Implemented by CWindowWnd; a manager without one (a layout built for
// reading only) has the in-process clipboard and no timers.
class IWindowServices {
 public:
  virtual ~IWindowServices() = default;
  // Never null.
  virtual Clipboard* GetClipboard() = 0;
  // The input method on (a text field has the focus; `caret` in window
  // layout pixels, where its candidate box goes) or off.
  virtual void SetTextInput(bool active, const UiRect& caret) = 0;
  // Starts or restarts framework timer `slot`; when it fires the window
  // calls CPaintManagerUI::OnUiTimer(slot).
  virtual void SetUiTimer(uint32_t slot, uint32_t period_ms) = 0;
  virtual void KillUiTimer(uint32_t slot) = 0;
};

class CPaintManagerUI {
 public:
  // Framework timer slot of the tooltip delay; control timers use others.
  static constexpr uint32_t kToolTipTimerSlot = 0;

  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  void SetArchive(std::shared_ptr<SkinArchive> archive) { archive_ = std::move(archive); }
  const std::shared_ptr<SkinArchive>& GetArchive() const { return archive_; }

  // Takes the root of the control tree and attaches it.
  void AttachRoot(std::unique_ptr<CControlUI> root);
  CControlUI* GetRoot() const { return root_.get(); }

  // The control called `name` anywhere in the tree, or null.
  CControlUI* FindControl(const std::wstring& name) const;
  // The control called `name` in the sub-tree of `parent` (itself included).
  static CControlUI* FindSubControlByName(CControlUI* parent, const std::wstring& name);
  template <typename T>
  T* FindControl(const std::wstring& name) const {
    return dynamic_cast<T*>(FindControl(name));
  }

  // Window attributes of the layout.
  UiSize GetInitSize() const { return init_size_; }
  void SetInitSize(UiSize size) { init_size_ = size; }
  UiRect GetCaptionRect() const { return caption_; }
  void SetCaptionRect(const UiRect& caption) { caption_ = caption; }
  int GetRoundCorner() const { return round_corner_; }
  void SetRoundCorner(int radius) { round_corner_ = radius; }
  bool IsTransparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }

  // Fonts by index (the <Font id=...> elements).
  void SetFont(int id, const FontSpec& font);
  const std::vector<FontSpec>& GetFonts() const { return fonts_; }
  void SetDefaultFont(int id) { default_font_ = id; }
  int GetDefaultFont() const { return default_font_; }
  void SetLinkColors(UiColor normal, UiColor hover);
  UiColor GetLinkColor() const { return link_color_; }
  UiColor GetLinkHoverColor() const { return link_hover_color_; }
  // Font `id`, as texts resolve it: the window's default for -1, the first
  // font for an unknown id, a plain Noto Sans without fonts.
  FontSpec ResolveFont(int id) const;
  UiColor GetDefaultTextColor() const { return default_text_color_; }
  void SetDefaultTextColor(UiColor c) { default_text_color_ = c; }

  // Default attributes per element class (<Default name="Button" value=...>).
  void AddDefaultAttributes(const std::string& cls, const std::string& attributes);
  const std::string* GetDefaultAttributes(const std::string& cls) const;

  // The image `name`, loaded from the archive on first use and cached; null
  // when it is neither cached nor a PNG of the archive. Names are matched
  // with `\` and `/` alike.
  cairo_surface_t* GetImage(const std::string& name);
  // Whether GetImage(name) has a picture to give, without decoding one of
  // the archive: counting pictures must not load them all.
  bool HasImage(const std::string& name);
  // Decodes the pictures `names` (as GetImage takes them) on a worker thread
  // and adds each to the cache back on the UI thread, so their first use
  // does not decode on the window thread. The worker starts when the
  // message loop next turns, never ahead of the frame being built; pictures
  // cached by then are left as they are. Nothing arrives once the manager
  // is gone. UI thread.
  void LoadImagesInBackground(std::vector<std::string> names);
  // Caches `image` under `name` (taking a reference), replacing any.
  void AddImage(const std::string& name, cairo_surface_t* image);
  void RemoveImage(const std::string& name);
  void RemoveAllImages();
  // How many pictures the cache holds: what stays decoded.
  size_t ImageCount() const { return images_.size(); }

  // The notification targets; not owned.
  void AddNotifier(INotifyUI* notifier);
  void RemoveNotifier(INotifyUI* notifier);
  void SendNotify(CControlUI* sender, const std::wstring& type, uintptr_t wparam = 0,
                  intptr_t lparam = 0);

  // Layout and painting. Invalidate() marks the window for repaint; the
  // callback tells the window (and its host) about it.
  void Invalidate();
  void SetInvalidateCallback(std::function<void()> callback) { on_invalidate_ = std::move(callback); }
  void NeedUpdate() { need_layout_ = true; Invalidate(); }
  void SetClientSize(UiSize size);
  UiSize GetClientSize() const { return client_size_; }
  // Lays out (when needed) and paints the whole tree into `cr`.
  void Paint(cairo_t* cr);
  // A context for text measurement outside painting.
  cairo_t* MeasureContext() const { return measure_cr_; }

  // The window's services; not owned. Null detaches them.
  void SetWindowServices(IWindowServices* services);
  // The clipboard of the window's host (the in-process one without a
  // window). Never null.
  Clipboard* GetClipboard() const;

  // Input in window pixels.
  void OnMouse(MouseEvent event, int x, int y, int wheel = 0);
  // A key without modifiers: OnKeyDown with none.
  void OnKey(int key);
  // Routes a key: Escape closes an open list, Tab and Shift+Tab move the
  // focus, anything else goes to the focused control (when it is still
  // visible and enabled). Returns whether the key was used; the window
  // turns an unused Escape into its close request.
  bool OnKeyDown(const KeyEvent& event);
  void OnTextInput(const std::string& utf8);
  // The input method's composition for the focused control.
  void OnTextEditing(const std::string& utf8, int cursor);
  CControlUI* GetHot() const { return hot_; }
  CControlUI* GetPushed() const { return pushed_; }
  CControlUI* GetFocus() const { return focus_; }
  // Focus set by the program or the mouse: no focus ring.
  void SetFocus(CControlUI* control);
  // `from_keyboard`: the focus came from Tab, so the ring shows where it is.
  void SetFocus(CControlUI* control, bool from_keyboard);
  bool IsFocusFromKeyboard() const { return keyboard_focus_; }
  // Moves the focus to the next (previous) tab stop, as Tab (Shift+Tab)
  // does. Returns false when the window has none.
  bool MoveFocus(bool forward);
  // Where the caret of focused text field `control` is, for the input
  // method's candidate box. Ignored from other controls.
  void SetTextInputRect(CControlUI* control, const UiRect& caret);

  // Timers of controls: CControlUI::OnTimer(id) runs every `period_ms`
  // until KillTimer or the control's end. Returns false without a window.
  bool SetTimer(CControlUI* control, uint32_t id, uint32_t period_ms);
  void KillTimer(CControlUI* control, uint32_t id);
  // A framework timer of the window fired (called by the window).
  void OnUiTimer(uint32_t slot);

  // The tooltip on show now, and its box in window pixels.
  bool IsToolTipShown() const { return tooltip_.IsShown(); }
  const std::wstring& GetToolTipText() const { return tooltip_.GetText(); }
  UiRect GetToolTipRect() const { return tooltip_.GetRect(); }
  // Whether window point (x, y) drags the window: in the caption band and
  // not over a control that takes the mouse.
  bool IsCaptionAt(int x, int y);

  // A control drawn above everything else (an open combo list).
  void SetOverlay(CControlUI* overlay) { overlay_ = overlay; Invalidate(); }
  CControlUI* GetOverlay() const { return overlay_; }

  // Forgets references to `control`, which is being destroyed.
  void ReapControl(CControlUI* control);

 private:
  friend class ToolTipTracker;
  void SetUiTimer(uint32_t slot, uint32_t period_ms);
  void KillUiTimer(uint32_t slot);
  // The focused control when it can still take input, else null.
  CControlUI* InputFocus() const;
  void UpdateTextInput();
  void LayoutIfNeeded();

  std::shared_ptr<SkinArchive> archive_;
  std::unique_ptr<CControlUI> root_;
  UiSize init_size_;
  UiSize client_size_;
  UiRect caption_;
  int round_corner_ = 0;
  bool transparent_ = false;
  std::vector<FontSpec> fonts_;
  int default_font_ = 0;
  UiColor link_color_ = 0xFF28BF74;
  UiColor link_hover_color_ = 0xFFE18407;
  UiColor default_text_color_ = 0xFF222222;
  std::map<std::string, std::string> defaults_;
  std::map<std::string, cairo_surface_t*> images_;
  // Tasks of background loads hold it weakly: the manager is alive while it is.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::vector<std::thread> loaders_;
  std::vector<INotifyUI*> notifiers_;
  std::function<void()> on_invalidate_;
  bool need_layout_ = true;
  cairo_surface_t* measure_surface_ = nullptr;
  cairo_t* measure_cr_ = nullptr;
  CControlUI* hot_ = nullptr;
  CControlUI* pushed_ = nullptr;
  CControlUI* focus_ = nullptr;
  CControlUI* overlay_ = nullptr;
  bool keyboard_focus_ = false;
  IWindowServices* services_ = nullptr;
  UiRect caret_rect_;
  // Control timers by (control, id), and the framework slot of each.
  std::map<std::pair<CControlUI*, uint32_t>, uint32_t> timers_;
  ToolTipTracker tooltip_{this};
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_PAINT_MANAGER_H_
