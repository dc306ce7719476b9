#ifndef WEBSETUP_UIFRAMEWORK_CONTROL_H_
#define WEBSETUP_UIFRAMEWORK_CONTROL_H_

// CControlUI, the base of every control of a layout: name, text, geometry,
// background, border and text attributes, visibility and enabled state.
// Controls belong to their parent (the root to its CPaintManagerUI) and to
// the window's thread: other threads post messages instead of touching them.

#include <cairo.h>

#include <map>
#include <string>
#include <string_view>

#include "uiframework/ui_types.h"

namespace ui {

class CPaintManagerUI;
class CContainerUI;

// Text alignment flags of the `align` and `valign` attributes.
enum TextAlign : unsigned {
  kAlignLeft = 0,
  kAlignCenter = 1,
  kAlignRight = 2,
  kAlignTop = 0,
  kAlignVCenter = 4,
  kAlignBottom = 8,
  kTextSingleLine = 16,
  kTextEndEllipsis = 32,
};

enum class MouseEvent { kMove, kDown, kUp, kLeave, kWheel };

// Key codes of KeyEvent::key: the Win32 virtual-key numbers, so code ported
// from a Win32 window reads the same. Letters are their upper-case ASCII
// ('A' = 65) and digits their ASCII, whatever the keyboard layout prints.
constexpr int kKeyBackspace = 8;
constexpr int kKeyTab = 9;
constexpr int kKeyReturn = 13;
constexpr int kKeyEscape = 27;
constexpr int kKeySpace = 32;
constexpr int kKeyPageUp = 33;
constexpr int kKeyPageDown = 34;
constexpr int kKeyEnd = 35;
constexpr int kKeyHome = 36;
constexpr int kKeyLeft = 37;
constexpr int kKeyUp = 38;
constexpr int kKeyRight = 39;
constexpr int kKeyDown = 40;
constexpr int kKeyInsert = 45;
constexpr int kKeyDelete = 46;

// Modifier keys held with a key (KeyEvent::modifiers).
enum KeyModifier : unsigned {
  kModNone = 0,
  kModShift = 1,
  kModCtrl = 2,
  kModAlt = 4,
};

// A key press (or an auto-repeat of one). Printable text arrives apart
// from it, through OnTextInput, already composed by the input method.
struct KeyEvent {
  int key = 0;
  unsigned modifiers = kModNone;

  bool shift() const { return (modifiers & kModShift) != 0; }
  bool ctrl() const { return (modifiers & kModCtrl) != 0; }
  bool alt() const { return (modifiers & kModAlt) != 0; }
};

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  // The element name of the class in layouts ("Control", "Button", ...).
  virtual std::string_view GetClass() const { return "Control"; }

  const std::wstring& GetName() const { return name_; }
  void SetName(std::wstring name) { name_ = std::move(name); }
  virtual const std::wstring& GetText() const { return text_; }
  virtual void SetText(const std::wstring& text);
  const std::wstring& GetToolTip() const { return tooltip_; }
  void SetToolTip(std::wstring tip) { tooltip_ = std::move(tip); }

  // Visible when the control itself, every ancestor, and (inside a tab
  // layout) its page are visible.
  bool IsVisible() const;
  // The control's own visibility flag, whatever its ancestors.
  bool IsOwnVisible() const { return visible_; }
  virtual void SetVisible(bool visible);
  bool IsEnabled() const;
  virtual void SetEnabled(bool enabled);
  bool IsFloat() const { return float_; }
  // False when the layout took the control off the keyboard
  // (keyboard="false"): Tab passes it by.
  bool IsKeyboardEnabled() const { return keyboard_enabled_; }

  int GetFixedWidth() const { return fixed_.cx; }
  int GetFixedHeight() const { return fixed_.cy; }
  void SetFixedWidth(int cx);
  void SetFixedHeight(int cy);
  const UiRect& GetPadding() const { return padding_; }
  // The float position relative to the parent, as the `pos` attribute.
  const UiRect& GetFloatPos() const { return pos_; }
  void SetFloatPos(const UiRect& pos);

  // The position in window pixels, set by the last layout pass.
  const UiRect& GetPos() const { return rect_; }
  virtual void SetPos(const UiRect& rect);

  const std::string& GetBkImage() const { return bkimage_; }
  void SetBkImage(const std::string& image);
  UiColor GetBkColor() const { return bkcolor_; }
  void SetBkColor(UiColor color);
  UiColor GetTextColor() const { return textcolor_; }
  void SetTextColor(UiColor color);
  int GetFont() const { return font_; }
  void SetFont(int font);

  // Applies one layout attribute. Unknown names are kept and can be read
  // back with GetCustomAttribute.
  virtual void SetAttribute(std::string_view name, std::string_view value);
  std::string GetCustomAttribute(const std::string& name) const;

  CContainerUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  // Attaches this control (and its children) to `manager` and `parent`.
  virtual void SetManager(CPaintManagerUI* manager, CContainerUI* parent);

  // Paints the control into `cr`, whose origin is the window's. Called by
  // the paint manager in tree order; also usable for direct painting.
  virtual void DoPaint(cairo_t* cr);

  // The deepest visible control at window point (x, y) that takes the
  // mouse, or null.
  virtual CControlUI* FindControlAt(int x, int y);
  // Whether the control takes mouse input (buttons, options, links, ...).
  virtual bool WantsMouse() const { return mouse_enabled_; }
  // Mouse and keyboard input routed here by the paint manager.
  virtual void OnMouse(MouseEvent event, int x, int y, int wheel);
  // A key pressed while the control has the focus. Returns whether the
  // control used it; an unused Escape becomes the window's close request.
  // The default hands the key to OnKey and uses none.
  virtual bool OnKeyDown(const KeyEvent& event);
  // The key alone, for controls that need no modifiers.
  virtual void OnKey(int key) { (void)key; }
  // Text committed by the keyboard or the input method.
  virtual void OnTextInput(const std::string& utf8) { (void)utf8; }
  // The input method's composition in progress: `utf8` is not yet text of
  // the control (empty ends the composition); `cursor` is the character
  // offset of the input method's cursor inside it.
  virtual void OnTextEditing(const std::string& utf8, int cursor) {
    (void)utf8;
    (void)cursor;
  }
  // Whether the control takes the focus (by click and by Tab).
  virtual bool WantsFocus() const { return false; }
  // Whether the focused control wants the input method on (text fields).
  virtual bool WantsTextInput() const { return false; }
  // Focus change; the combo closes its list when it loses the focus.
  virtual void OnFocus(bool focused) { (void)focused; }
  // Whether the dotted focus ring marks keyboard focus on this control;
  // text fields show theirs with the caret instead.
  virtual bool ShowsFocusRing() const { return true; }
  // A timer started with CPaintManagerUI::SetTimer(this, id, ...) fired.
  virtual void OnTimer(uint32_t id) { (void)id; }

  // Asks the manager to repaint.
  void Invalidate();

 protected:
  void PaintBkColor(cairo_t* cr);
  void PaintBkImage(cairo_t* cr);
  void PaintBorder(cairo_t* cr);
  // Draws `text` (framework markup allowed) into `rect` with this control's
  // font, colour and alignment.
  void PaintTextIn(cairo_t* cr, const UiRect& rect, const std::wstring& text,
                   UiColor color, unsigned flags, int hot_link = -1);
  // Draws the image described by `imageDesc` (a file name, or "file='x'
  // source='l,t,r,b' dest='l,t,r,b'") into the control's rectangle.
  void PaintImage(cairo_t* cr, const std::string& imageDesc);
  UiRect TextRect() const;

  std::wstring name_;
  std::wstring text_;
  std::wstring tooltip_;
  bool visible_ = true;
  bool enabled_ = true;
  bool float_ = false;
  bool mouse_enabled_ = false;
  bool keyboard_enabled_ = true;  // the `keyboard` attribute: reachable by Tab
  UiSize fixed_;
  UiRect pos_;
  UiRect padding_;
  UiRect textpadding_;
  UiRect rect_;
  std::string bkimage_;
  UiColor bkcolor_ = 0;
  UiColor bordercolor_ = 0;
  int bordersize_ = 0;
  int borderround_ = 0;
  UiColor textcolor_ = 0;
  UiColor disabledtextcolor_ = 0xFFA7A6AA;
  int font_ = -1;
  unsigned align_ = kAlignLeft | kAlignVCenter;
  std::map<std::string, std::string> custom_;
  CPaintManagerUI* manager_ = nullptr;
  CContainerUI* parent_ = nullptr;
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_CONTROL_H_
