#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "common/text.h"
#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"

namespace ui {

namespace {

constexpr uint32_t kCaretTimer = 1;
constexpr uint32_t kCaretBlinkMs = 530;
// Presses this close in time and place count as one double or triple click.
constexpr int64_t kMultiClickMs = 500;
constexpr int kMultiClickRadius = 4;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One line of a single-line field: what the user typed never has a line
// break, and pasted text must not smuggle one in (a path with a newline in
// it fails far from where it was typed). Tabs become spaces, other control
// characters go.
std::wstring singleLine(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\n' || c == L'\t') {
      out.push_back(L' ');
    } else if (c >= 0x20 && c != 0x7F) {
      out.push_back(c);
    }
  }
  // A copied line usually ends in its line break; that is not text.
  bool line_end = !text.empty() && (text.back() == L'\n' || text.back() == L'\r');
  if (line_end && !out.empty() && out.back() == L' ') out.pop_back();
  return out;
}

}  // namespace

CEditUI::CEditUI() {
  mouse_enabled_ = true;
  align_ = kAlignLeft | kAlignVCenter;
  textpadding_ = UiRect{8, 0, 8, 0};
}

void CEditUI::SetAttribute(std::string_view name, std::string_view value) {
  if (name == "readonly") {
    read_only_ = parseBool(value);
  } else if (name == "normalimage") {
    normal_image_ = std::string(value);
  } else if (name == "focusedimage") {
    focused_image_ = std::string(value);
  } else {
    CLabelUI::SetAttribute(name, value);
    if (name == "text") caret_ = anchor_ = static_cast<int>(text_.size());
  }
}

void CEditUI::SetText(const std::wstring& text) {
  composition_.clear();
  caret_ = anchor_ = static_cast<int>(text.size());
  scroll_ = 0;
  CLabelUI::SetText(text);
  Invalidate();
}

bool CEditUI::HasFocus() const { return manager_ != nullptr && manager_->GetFocus() == this; }

int CEditUI::GetCaretPos() const { return std::clamp(caret_, 0, static_cast<int>(text_.size())); }

void CEditUI::GetSel(int* start, int* end) const {
  int n = static_cast<int>(text_.size());
  int a = std::clamp(anchor_, 0, n), c = std::clamp(caret_, 0, n);
  *start = std::min(a, c);
  *end = std::max(a, c);
}

void CEditUI::SetSel(int anchor, int caret) {
  int n = static_cast<int>(text_.size());
  anchor_ = anchor < 0 ? n : std::min(anchor, n);
  caret_ = caret < 0 ? n : std::min(caret, n);
  RestartBlink();
  Invalidate();
}

void CEditUI::SetSelAll() { SetSel(0, -1); }

std::wstring CEditUI::GetSelText() const {
  int s = 0, e = 0;
  GetSel(&s, &e);
  return text_.substr(static_cast<size_t>(s), static_cast<size_t>(e - s));
}

void CEditUI::ReplaceSel(const std::wstring& text) {
  int s = 0, e = 0;
  GetSel(&s, &e);
  if (s == e && text.empty()) return;
  text_.replace(static_cast<size_t>(s), static_cast<size_t>(e - s), text);
  caret_ = anchor_ = s + static_cast<int>(text.size());
  TextChanged();
}

void CEditUI::Erase(int from, int to) {
  if (from >= to) return;
  text_.erase(static_cast<size_t>(from), static_cast<size_t>(to - from));
  caret_ = anchor_ = from;
  TextChanged();
}

void CEditUI::TextChanged() {
  RestartBlink();
  Invalidate();
  if (manager_ != nullptr) manager_->SendNotify(this, L"textchanged");
}

void CEditUI::MoveCaret(int to, bool extend) {
  caret_ = std::clamp(to, 0, static_cast<int>(text_.size()));
  if (!extend) anchor_ = caret_;
  RestartBlink();
  Invalidate();
}

void CEditUI::RestartBlink() {
  // A caret that vanishes while the user types or moves is lost; it stays
  // solid until the user pauses.
  caret_on_ = true;
  if (HasFocus()) manager_->SetTimer(this, kCaretTimer, kCaretBlinkMs);
}

void CEditUI::OnTimer(uint32_t id) {
  if (id != kCaretTimer) return;
  caret_on_ = !caret_on_;
  Invalidate();
}

void CEditUI::OnFocus(bool focused) {
  if (focused) {
    // Tabbing into a field selects its text, so typing replaces it.
    if (manager_ != nullptr && manager_->IsFocusFromKeyboard()) SetSelAll();
    RestartBlink();
  } else {
    if (manager_ != nullptr) manager_->KillTimer(this, kCaretTimer);
    composition_.clear();
    caret_rect_ = UiRect{};
  }
  Invalidate();
}

bool CEditUI::HandleMoveKey(const KeyEvent& e) {
  int s = 0, end = 0;
  GetSel(&s, &end);
  int n = static_cast<int>(text_.size());
  switch (e.key) {
    case kKeyLeft:
      // Left on a selection lands at its start, as in every text field.
      MoveCaret(s != end && !e.shift() ? s : PrevStop(caret_, e.ctrl()), e.shift());
      return true;
    case kKeyRight:
      MoveCaret(s != end && !e.shift() ? end : NextStop(caret_, e.ctrl()), e.shift());
      return true;
    case kKeyHome:
      MoveCaret(0, e.shift());
      return true;
    case kKeyEnd:
      MoveCaret(n, e.shift());
      return true;
    default:
      break;
  }
  if (e.ctrl() && e.key == 'A') {
    SetSelAll();
    return true;
  }
  return false;
}

bool CEditUI::HandleClipboardKey(const KeyEvent& e) {
  bool copy = (e.ctrl() && (e.key == 'C' || e.key == kKeyInsert));
  bool cut = (e.ctrl() && e.key == 'X') || (e.shift() && e.key == kKeyDelete);
  bool paste = (e.ctrl() && e.key == 'V') || (e.shift() && e.key == kKeyInsert);
  if (!copy && !cut && !paste) return false;
  if (manager_ == nullptr) return true;
  std::wstring selected = GetSelText();
  if ((copy || cut) && !selected.empty()) manager_->GetClipboard()->SetText(selected);
  if (cut && !read_only_) ReplaceSel(L"");
  if (paste && !read_only_) ReplaceSel(singleLine(manager_->GetClipboard()->GetText()));
  return true;
}

bool CEditUI::HandleEditKey(const KeyEvent& e) {
  int s = 0, end = 0;
  GetSel(&s, &end);
  if (e.key == kKeyBackspace || e.key == kKeyDelete) {
    if (read_only_) return true;
    if (s != end) {
      Erase(s, end);
    } else if (e.key == kKeyDelete) {
      Erase(caret_, NextStop(caret_, e.ctrl()));
    } else {
      Erase(PrevStop(caret_, e.ctrl()), caret_);
    }
    return true;
  }
  if (e.key == kKeyReturn) {
    if (!read_only_ && manager_ != nullptr) manager_->SendNotify(this, L"return");
    return true;
  }
  return false;
}

void CEditUI::OnKey(int key) { OnKeyDown(KeyEvent{key, kModNone}); }

bool CEditUI::OnKeyDown(const KeyEvent& event) {
  if (!IsEnabled()) return false;
  if (!composition_.empty()) {
    // While the input method composes, keys are its business; Escape drops
    // the composition rather than closing the window under it.
    if (event.key == kKeyEscape) {
      composition_.clear();
      Invalidate();
      return true;
    }
    return false;
  }
  caret_ = GetCaretPos();
  return HandleClipboardKey(event) || HandleMoveKey(event) || HandleEditKey(event);
}

void CEditUI::OnTextInput(const std::string& utf8) {
  if (read_only_ || !IsEnabled()) return;
  composition_.clear();
  std::wstring text = singleLine(common::utf8ToWide(utf8));
  if (text.empty()) {
    Invalidate();
    return;
  }
  ReplaceSel(text);
}

void CEditUI::OnTextEditing(const std::string& utf8, int cursor) {
  if (read_only_ || !IsEnabled()) return;
  std::wstring text = common::utf8ToWide(utf8);
  // The composition takes the place of the selection, as typing would.
  if (!text.empty() && composition_.empty() && !GetSelText().empty()) ReplaceSel(L"");
  composition_ = text;
  int n = static_cast<int>(text.size());
  composition_cursor_ = cursor < 0 || cursor > n ? n : cursor;
  RestartBlink();
  Invalidate();
}

void CEditUI::CountClick(int x, int y) {
  int64_t now = nowMs();
  bool again = clicks_ > 0 && now - last_click_ms_ <= kMultiClickMs &&
               std::abs(x - last_click_x_) <= kMultiClickRadius &&
               std::abs(y - last_click_y_) <= kMultiClickRadius;
  clicks_ = again ? clicks_ % 3 + 1 : 1;
  last_click_ms_ = now;
  last_click_x_ = x;
  last_click_y_ = y;
}

void CEditUI::OnMouse(MouseEvent event, int x, int y, int wheel) {
  (void)wheel;
  if (event == MouseEvent::kDown) {
    CountClick(x, y);
    int index = IndexAt(x);
    if (clicks_ == 2) {
      SelectWordAt(index);
    } else if (clicks_ == 3) {
      SetSelAll();
    } else {
      MoveCaret(index, false);
    }
  } else if (event == MouseEvent::kMove && clicks_ == 1 && manager_ != nullptr &&
             manager_->GetPushed() == this) {
    // Dragging past either end scrolls: the caret follows the pointer and
    // the next paint keeps the caret in view.
    MoveCaret(IndexAt(x), true);
  }
}

}  // namespace ui
