#include "uiframework/automation.h"

#include "common/text.h"
#include "uiframework/controls.h"
#include "uiframework/render.h"

namespace ui::automation {

namespace {

void clickAt(CWindowWnd* window, int x, int y) {
  CPaintManagerUI& pm = window->GetPaintManager();
  pm.OnMouse(MouseEvent::kMove, x, y);
  pm.OnMouse(MouseEvent::kDown, x, y);
  pm.OnMouse(MouseEvent::kUp, x, y);
}

CControlUI* shown(CWindowWnd* window, const std::wstring& name) {
  // Lay out first: positions are only known after a layout pass.
  window->GetPaintContext();
  CControlUI* c = window->GetPaintManager().FindControl(name);
  if (c == nullptr || !c->IsVisible() || !c->IsEnabled()) return nullptr;
  return c;
}

}  // namespace

bool Click(CWindowWnd* window, const std::wstring& name) {
  CControlUI* c = shown(window, name);
  if (c == nullptr) return false;
  const UiRect& r = c->GetPos();
  clickAt(window, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return true;
}

bool ClickLink(CWindowWnd* window, const std::wstring& name, int index) {
  CControlUI* c = shown(window, name);
  if (c == nullptr) return false;
  // Find a point inside the link by probing the control's area.
  const UiRect& r = c->GetPos();
  CPaintManagerUI& pm = window->GetPaintManager();
  MarkupStyle style;
  style.fonts = &pm.GetFonts();
  style.base_font = c->GetFont() >= 0 ? c->GetFont() : pm.GetDefaultFont();
  MarkupResult markup = convertMarkup(c->GetText(), style);
  if (index < 0 || index >= static_cast<int>(markup.links.size())) return false;
  for (int y = r.top + 1; y < r.bottom; y += 3) {
    for (int x = r.left + 1; x < r.right; x += 3) {
      CControlUI* hit = pm.GetRoot()->FindControlAt(x, y);
      if (hit != c) continue;
      // The same flags the text control paints with: wrapped, top-left.
      int link = LinkAtPoint(pm.MeasureContext(), markup, r, kAlignLeft | kAlignTop, x, y);
      if (link == index) {
        clickAt(window, x, y);
        return true;
      }
    }
  }
  return false;
}

bool ChooseComboItem(CWindowWnd* window, const std::wstring& name, int index) {
  auto* combo = dynamic_cast<CComboUI*>(shown(window, name));
  if (combo == nullptr) return false;
  CControlUI* item = combo->GetItemAt(index);
  if (item == nullptr || !item->IsOwnVisible()) return false;
  if (!combo->IsDropped()) Click(window, name);
  window->GetPaintContext();
  // An item scrolled out of the list is wheeled into view first, as a
  // person would; the list is at most a few pages long.
  const UiRect list = combo->ListRect();
  CPaintManagerUI& pm = window->GetPaintManager();
  for (int turns = 0; turns < 64; ++turns) {
    const UiRect& r = item->GetPos();
    if (r.top >= list.top && r.bottom <= list.bottom) break;
    pm.OnMouse(MouseEvent::kMove, (list.left + list.right) / 2, (list.top + list.bottom) / 2);
    pm.OnMouse(MouseEvent::kWheel, (list.left + list.right) / 2, (list.top + list.bottom) / 2,
               r.top < list.top ? 1 : -1);
  }
  const UiRect& r = item->GetPos();
  clickAt(window, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return combo->GetCurSel() == index;
}

bool TypeText(CWindowWnd* window, const std::wstring& name, const std::string& utf8) {
  if (!Click(window, name)) return false;
  PressKey(window, kKeyEnd);
  InputText(window, utf8);
  return true;
}

bool ClickAt(CWindowWnd* window, int x, int y, int clicks) {
  window->GetPaintContext();
  UiSize size = window->GetPaintManager().GetClientSize();
  if (x < 0 || y < 0 || x >= size.cx || y >= size.cy) return false;
  for (int i = 0; i < clicks; ++i) clickAt(window, x, y);
  return true;
}

bool Drag(CWindowWnd* window, int x0, int y0, int x1, int y1) {
  window->GetPaintContext();
  CPaintManagerUI& pm = window->GetPaintManager();
  UiSize size = pm.GetClientSize();
  if (x0 < 0 || y0 < 0 || x0 >= size.cx || y0 >= size.cy) return false;
  pm.OnMouse(MouseEvent::kMove, x0, y0);
  pm.OnMouse(MouseEvent::kDown, x0, y0);
  // Halfway too: controls see a drag as a series of moves.
  pm.OnMouse(MouseEvent::kMove, (x0 + x1) / 2, (y0 + y1) / 2);
  pm.OnMouse(MouseEvent::kMove, x1, y1);
  pm.OnMouse(MouseEvent::kUp, x1, y1);
  return true;
}

bool Hover(CWindowWnd* window, const std::wstring& name) {
  window->GetPaintContext();
  CControlUI* c = window->GetPaintManager().FindControl(name);
  if (c == nullptr || !c->IsVisible()) return false;
  const UiRect& r = c->GetPos();
  MoveMouse(window, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return true;
}

void MoveMouse(CWindowWnd* window, int x, int y) {
  window->GetPaintManager().OnMouse(MouseEvent::kMove, x, y);
}

void MouseLeave(CWindowWnd* window) {
  window->GetPaintManager().OnMouse(MouseEvent::kLeave, -1, -1);
}

void PressKey(CWindowWnd* window, int key, unsigned modifiers) {
  window->GetPaintContext();
  static_cast<HostDelegate*>(window)->OnHostKeyEvent(KeyEvent{key, modifiers});
}

void InputText(CWindowWnd* window, const std::string& utf8) {
  static_cast<HostDelegate*>(window)->OnHostText(utf8);
}

void Compose(CWindowWnd* window, const std::string& utf8, int cursor) {
  static_cast<HostDelegate*>(window)->OnHostTextEditing(utf8, cursor);
}

std::wstring FocusedName(CWindowWnd* window) {
  CControlUI* focus = window->GetPaintManager().GetFocus();
  return focus != nullptr ? focus->GetName() : std::wstring();
}

bool FocusFromKeyboard(CWindowWnd* window) {
  return window->GetPaintManager().IsFocusFromKeyboard();
}

std::wstring ToolTip(CWindowWnd* window) { return window->GetPaintManager().GetToolTipText(); }

std::wstring ClipboardText(CWindowWnd* window) {
  return window->GetPaintManager().GetClipboard()->GetText();
}

void SetClipboardText(CWindowWnd* window, const std::wstring& text) {
  window->GetPaintManager().GetClipboard()->SetText(text);
}

bool TextInputActive(CWindowWnd* window) {
  return window->GetHost() != nullptr && window->GetHost()->IsTextInputActive();
}

std::wstring Text(CWindowWnd* window, const std::wstring& name) {
  CControlUI* c = window->GetPaintManager().FindControl(name);
  return c != nullptr ? c->GetText() : std::wstring();
}

bool IsVisible(CWindowWnd* window, const std::wstring& name) {
  CControlUI* c = window->GetPaintManager().FindControl(name);
  return c != nullptr && c->IsVisible();
}

int CurrentPage(CWindowWnd* window, const std::wstring& name) {
  auto* tab = window->GetPaintManager().FindControl<CTabLayoutUI>(name);
  return tab != nullptr ? tab->GetCurSel() : -1;
}

bool Screenshot(CWindowWnd* window, const std::string& png_path) {
  return window->SaveScreenshot(png_path);
}

}  // namespace ui::automation
