#ifndef WEBSETUP_UIFRAMEWORK_CONTROLS_H_
#define WEBSETUP_UIFRAMEWORK_CONTROLS_H_

// The leaf controls of layouts: label, text (with links), button, option,
// check box, progress, combo with its items, edit and rich edit. Window's
// thread only, except CProgressUI::SetValue, which a download thread may
// call (the value is atomic and painting happens on the window's thread).

#include <atomic>
#include <string>

#include "uiframework/containers.h"
#include "uiframework/control.h"

namespace ui {

// One line of text, vertically centred.
class CLabelUI : public CControlUI {
 public:
  std::string_view GetClass() const override { return "Label"; }
  void SetAttribute(std::string_view name, std::string_view value) override;
  void DoPaint(cairo_t* cr) override;

 protected:
  bool multiline_ = false;
};

// Wrapped text whose "{a}" links send "link" notifications (wParam = the
// link's index in the text).
class CTextUI : public CLabelUI {
 public:
  CTextUI();
  std::string_view GetClass() const override { return "Text"; }
  bool WantsMouse() const override;
  void OnMouse(MouseEvent event, int x, int y, int wheel) override;
  void DoPaint(cairo_t* cr) override;

 private:
  int LinkAt(int x, int y) const;
  int hot_link_ = -1;
};

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::string_view GetClass() const override { return "Button"; }
  void SetAttribute(std::string_view name, std::string_view value) override;
  void DoPaint(cairo_t* cr) override;
  void OnMouse(MouseEvent event, int x, int y, int wheel) override;
  // Buttons, options and check boxes take the focus unless mouse="false".
  bool WantsFocus() const override { return mouse_enabled_; }
  // Space and Enter do what a click does and send "click".
  bool OnKeyDown(const KeyEvent& event) override;

 protected:
  // The state image to draw: disabled, pushed, hot or normal.
  virtual const std::string& StateImage() const;
  UiColor StateTextColor() const;
  // What a completed click does before "click" is sent.
  virtual void Activate() {}

  std::string normal_image_, hot_image_, pushed_image_, disabled_image_, fore_image_;
  UiColor hot_text_color_ = 0, pushed_text_color_ = 0;
};

// A button that stays selected. Options sharing a `group` exclude each
// other; selecting one by the user sends "selectchanged".
class COptionUI : public CButtonUI {
 public:
  std::string_view GetClass() const override { return "Option"; }
  bool IsSelected() const { return selected_; }
  // Selects or clears the option; selecting clears the rest of its group.
  // Sends "selectchanged" when the state changes and `notify` is set.
  void Selected(bool selected, bool notify = true);
  const std::string& GetGroup() const { return group_; }
  void SetAttribute(std::string_view name, std::string_view value) override;

 protected:
  const std::string& StateImage() const override;
  void Activate() override;

  std::string group_;
  bool selected_ = false;
  std::string selected_image_, selected_hot_image_;
  UiColor selected_text_color_ = 0;
};

class CCheckBoxUI : public COptionUI {
 public:
  std::string_view GetClass() const override { return "CheckBox"; }
  bool GetCheck() const { return IsSelected(); }
  void SetCheck(bool check) { Selected(check, false); }
};

// A horizontal bar from min to max (0-100 unless the layout says).
class CProgressUI : public CLabelUI {
 public:
  std::string_view GetClass() const override { return "Progress"; }
  int GetValue() const { return value_.load(); }
  // Thread-safe.
  void SetValue(int value);
  int GetMinValue() const { return min_; }
  int GetMaxValue() const { return max_; }
  void SetAttribute(std::string_view name, std::string_view value) override;
  void DoPaint(cairo_t* cr) override;

 private:
  std::atomic<int> value_{0};
  int min_ = 0, max_ = 100;
  std::string fore_image_;
  UiColor fore_color_ = 0xFF2F7BFF;
};

// An item of a combo list; its own `visible` decides whether it is offered.
class CListLabelElementUI : public CLabelUI {
 public:
  std::string_view GetClass() const override { return "ListLabelElement"; }
};

// A drop-down list of CListLabelElementUI items. Choosing an item sends
// "itemselect" (wParam = new index, lParam = previous index).
class CComboUI : public CContainerUI {
 public:
  CComboUI();
  std::string_view GetClass() const override { return "Combo"; }
  int GetCurSel() const { return cur_sel_; }
  // Selects item `index`; sends "itemselect" when it changes and `notify`.
  // Returns false for an index out of range.
  bool SelectItem(int index, bool take_focus = false, bool notify = true);
  bool IsDropped() const { return dropped_; }
  void SetDropped(bool dropped);
  const std::wstring& GetText() const override;
  void SetAttribute(std::string_view name, std::string_view value) override;
  void SetPos(const UiRect& rect) override;
  void DoPaint(cairo_t* cr) override;
  // Paints the open list (the manager's overlay).
  void PaintList(cairo_t* cr);
  CControlUI* FindControlAt(int x, int y) override;
  bool WantsMouse() const override { return true; }
  void OnMouse(MouseEvent event, int x, int y, int wheel) override;
  bool WantsFocus() const override { return true; }
  void OnFocus(bool focused) override;
  // Up and Down choose the previous or next offered item; Space, Enter
  // and Alt+Down open or close the list.
  bool OnKeyDown(const KeyEvent& event) override;
  // The rectangle of the open list, and the item at a point of it (-1).
  UiRect ListRect() const;
  int ItemAt(int x, int y) const;
  // A list longer than it can show scrolls: the wheel, the keys and a
  // click on its track move it, and opening it brings the selection into
  // view. The first offered row shown (0 when everything fits).
  int ListTop() const { return list_top_; }
  void ScrollListTo(int row);

 private:
  int OfferedCount() const;
  int RowOf(int index) const;  // among offered items, -1 when hidden
  void ScrollSelectionIntoView();

  int cur_sel_ = -1;
  int list_top_ = 0;
  bool dropped_ = false;
  int item_height_ = 28;
  int hot_item_ = -1;
  std::string normal_image_, hot_image_;
};

// A single-line text field, as people know them: a caret at the insertion
// point (blinking while the field has the focus); selection by dragging,
// a double-click (a word) or triple-click (everything), and by Shift with
// Left/Right/Home/End; Backspace and Delete at the caret, Ctrl with them
// and with Left/Right by words; Ctrl+A; copy, cut and paste through the
// window's clipboard (Ctrl+C/X/V, Ctrl+Insert, Shift+Delete,
// Shift+Insert); typed text replacing the selection; the input method's
// composition shown underlined at the caret and not part of the text until
// committed. The text scrolls sideways to keep the caret in view. It is
// drawn as plain text: no markup. Positions count characters of the wide
// text (never UTF-8 bytes); the caret steps over a whole accented letter
// or emoji. Sends "textchanged" on every change by the user and "return"
// on Enter. A read-only field still selects and copies.
class CEditUI : public CLabelUI {
 public:
  CEditUI();
  std::string_view GetClass() const override { return "Edit"; }
  // Also puts the caret at the end and clears selection and composition.
  void SetText(const std::wstring& text) override;
  bool WantsFocus() const override { return true; }
  bool WantsTextInput() const override { return !read_only_; }
  bool ShowsFocusRing() const override { return false; }
  void OnKey(int key) override;
  bool OnKeyDown(const KeyEvent& event) override;
  void OnTextInput(const std::string& utf8) override;
  void OnTextEditing(const std::string& utf8, int cursor) override;
  void OnMouse(MouseEvent event, int x, int y, int wheel) override;
  void OnFocus(bool focused) override;
  void OnTimer(uint32_t id) override;
  void SetAttribute(std::string_view name, std::string_view value) override;
  void DoPaint(cairo_t* cr) override;
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool IsReadOnly() const { return read_only_; }

  // The caret as a character index: 0 is before the first character.
  int GetCaretPos() const;
  // The selection as characters [*start, *end); equal when nothing is
  // selected.
  void GetSel(int* start, int* end) const;
  // Selects from `anchor` to `caret` (the caret end moves with Shift and
  // arrows); -1 means the end of the text. Out-of-range values are clamped.
  void SetSel(int anchor, int caret);
  void SetSelAll();
  std::wstring GetSelText() const;
  // Replaces the selection (or inserts at the caret) with `text`, as typing
  // does; works on a read-only field too (the program may change it).
  void ReplaceSel(const std::wstring& text);
  // The input method's text in progress (not part of GetText()).
  const std::wstring& GetCompositionText() const { return composition_; }
  // Where the caret was last drawn, in window pixels; empty while the field
  // has no focus.
  UiRect GetCaretRect() const { return caret_rect_; }

 private:
  struct Line;

  bool HasFocus() const;
  UiColor InkColor() const;
  bool HandleMoveKey(const KeyEvent& event);
  bool HandleEditKey(const KeyEvent& event);
  bool HandleClipboardKey(const KeyEvent& event);
  void MoveCaret(int to, bool extend);
  // Removes characters [from, to) and puts the caret there.
  void Erase(int from, int to);
  void TextChanged();
  void RestartBlink();
  int PrevStop(int from, bool by_word) const;
  int NextStop(int from, bool by_word) const;
  void SelectWordAt(int index);
  // The character boundary nearest window x.
  int IndexAt(int x) const;
  void CountClick(int x, int y);
  double TextLeft(double text_width) const;
  void ScrollToCaret(double caret_x, double text_width);
  void PaintSelection(cairo_t* cr, const Line& line, double y, bool focused);
  void PaintCaret(cairo_t* cr, const Line& line, double y);

  bool read_only_ = false;
  std::string normal_image_, focused_image_;
  int caret_ = 0, anchor_ = 0;
  std::wstring composition_;
  int composition_cursor_ = 0;
  double scroll_ = 0;  // pixels of text scrolled out at the left
  UiRect caret_rect_;
  bool caret_on_ = true;
  int clicks_ = 0;  // 1, 2 or 3 presses in quick succession at one place
  int64_t last_click_ms_ = 0;
  int last_click_x_ = 0, last_click_y_ = 0;
};

// Multi-line text; the licence texts live in these.
class CRichEditUI : public CTextUI {
 public:
  std::string_view GetClass() const override { return "RichEdit"; }
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_CONTROLS_H_
