#include "uiframework/automation.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

#include "common/text.h"
#include "platform/files.h"
#include "platform/paths.h"
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

// A point inside each link of text control `c` (x -1 when a link is not
// drawn): the middle of the points the control's own hit test gives to the
// link, found by probing its area, so a click lands well inside the words.
struct LinkPoint {
  int x = -1;
  int y = -1;
};

std::vector<LinkPoint> linkPoints(CWindowWnd* window, CControlUI* c) {
  const UiRect& r = c->GetPos();
  CPaintManagerUI& pm = window->GetPaintManager();
  MarkupStyle style;
  style.fonts = &pm.GetFonts();
  style.base_font = c->GetFont() >= 0 ? c->GetFont() : pm.GetDefaultFont();
  MarkupResult markup = convertMarkup(c->GetText(), style);
  std::vector<std::vector<LinkPoint>> hits(markup.links.size());
  if (hits.empty()) return {};
  std::vector<std::pair<int, int>> grid;
  for (int y = r.top + 1; y < r.bottom; y += 3) {
    for (int x = r.left + 1; x < r.right; x += 3) {
      if (pm.GetRoot()->FindControlAt(x, y) == c) grid.emplace_back(x, y);
    }
  }
  // The same flags the text control paints with: wrapped, top-left. One
  // layout for the whole grid: the probe is written after every changed
  // frame, and a layout per point cost the window thread a tenth of a
  // second for a line with a link.
  const std::vector<int> links =
      LinksAtPoints(pm.MeasureContext(), markup, r, kAlignLeft | kAlignTop, grid);
  for (size_t i = 0; i < grid.size(); ++i) {
    if (links[i] >= 0 && links[i] < static_cast<int>(hits.size())) {
      hits[links[i]].push_back(LinkPoint{grid[i].first, grid[i].second});
    }
  }
  std::vector<LinkPoint> points(hits.size());
  for (size_t i = 0; i < hits.size(); ++i) {
    if (!hits[i].empty()) points[i] = hits[i][hits[i].size() / 2];
  }
  return points;
}

void appendJsonString(std::string& out, const std::string& utf8) {
  out += '"';
  for (unsigned char ch : utf8) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (ch < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", ch);
          out += buf;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  out += '"';
}

void appendRect(std::string& out, const UiRect& r) {
  out += "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

// Only what a person can see counts: a hidden control, a page a tab layout
// does not show, or a control outside the window's client area (a panel
// below a window not yet grown) is left out with what it holds.
void describeControl(CWindowWnd* window, CControlUI* c, const UiSize& client, std::string& controls,
                     std::string& pages) {
  if (!c->IsOwnVisible()) return;
  const UiRect& pos = c->GetPos();
  if (pos.right <= 0 || pos.bottom <= 0 || pos.left >= client.cx || pos.top >= client.cy) return;
  if (auto* tab = dynamic_cast<CTabLayoutUI*>(c); tab != nullptr && !c->GetName().empty()) {
    if (!pages.empty()) pages += ",";
    appendJsonString(pages, common::wideToUtf8(c->GetName()));
    pages += ":" + std::to_string(tab->GetCurSel());
  }
  if (!c->GetName().empty()) {
    if (!controls.empty()) controls += ",";
    appendJsonString(controls, common::wideToUtf8(c->GetName()));
    controls += ":{\"rect\":";
    appendRect(controls, c->GetPos());
    controls += ",\"enabled\":";
    controls += c->IsEnabled() ? "true" : "false";
    controls += ",\"text\":";
    // Enough to recognise a text; a licence need not travel whole.
    appendJsonString(controls, common::wideToUtf8(c->GetText().substr(0, 256)));
    if (auto* option = dynamic_cast<COptionUI*>(c)) {
      controls += ",\"selected\":";
      controls += option->IsSelected() ? "true" : "false";
    }
    if (dynamic_cast<CTextUI*>(c) != nullptr && c->GetText().find(L"{a") != std::wstring::npos) {
      controls += ",\"links\":[";
      bool first = true;
      for (const LinkPoint& p : linkPoints(window, c)) {
        if (!first) controls += ",";
        first = false;
        controls += "[" + std::to_string(p.x) + "," + std::to_string(p.y) + "]";
      }
      controls += "]";
    }
    if (auto* progress = dynamic_cast<CProgressUI*>(c)) {
      controls += ",\"value\":" + std::to_string(progress->GetValue());
    }
    if (auto* combo = dynamic_cast<CComboUI*>(c)) {
      controls += ",\"selection\":" + std::to_string(combo->GetCurSel());
      controls += ",\"dropped\":";
      controls += combo->IsDropped() ? "true" : "false";
      if (combo->IsDropped()) {
        // The rows a click can reach now: offered items inside the list.
        const UiRect list = combo->ListRect();
        controls += ",\"rows\":[";
        bool first = true;
        for (int i = 0; i < combo->GetCount(); ++i) {
          CControlUI* item = combo->GetItemAt(i);
          if (item == nullptr || !item->IsOwnVisible()) continue;
          const UiRect& r = item->GetPos();
          if (r.top < list.top || r.bottom > list.bottom) continue;
          if (!first) controls += ",";
          first = false;
          controls += "{\"index\":" + std::to_string(i) + ",\"rect\":";
          appendRect(controls, r);
          controls += ",\"text\":";
          appendJsonString(controls, common::wideToUtf8(item->GetText()));
          controls += "}";
        }
        controls += "]";
      }
      controls += "}";
      return;  // the items are rows, not controls of their own
    }
    controls += "}";
  }
  if (auto* tab = dynamic_cast<CTabLayoutUI*>(c)) {
    if (CControlUI* page = tab->GetItemAt(tab->GetCurSel()))
      describeControl(window, page, client, controls, pages);
  } else if (auto* container = dynamic_cast<CContainerUI*>(c)) {
    for (int i = 0; i < container->GetCount(); ++i) {
      describeControl(window, container->GetItemAt(i), client, controls, pages);
    }
  }
}

// The probe folder, read once: the setting belongs to the whole run.
const std::optional<std::string>& probeFolder() {
  static const std::optional<std::string> folder = [] {
    std::optional<std::string> v = platform::getEnv("WEBSETUP_UI_PROBE");
    if (v && v->empty()) v.reset();
    return v;
  }();
  return folder;
}

// Named by the handle alone: the destructor removes the file when the
// window's class can no longer be asked.
std::string probePath(CWindowWnd* window) {
  return *probeFolder() + "/window-" + std::to_string(window->GetHWND()) + ".json";
}

// Renamed into place, so a reader never sees half a file (the C library's
// rename refuses an existing target on Windows; the platform's replaces it).
void writeWhole(const std::string& path, const std::string& text) {
  (void)platform::replaceFileAtomically(path, text);
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
  std::vector<LinkPoint> points = linkPoints(window, c);
  if (index < 0 || index >= static_cast<int>(points.size()) || points[index].x < 0) return false;
  clickAt(window, points[index].x, points[index].y);
  return true;
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

std::string Describe(CWindowWnd* window) {
  std::string controls, pages;
  CPaintManagerUI& pm = window->GetPaintManager();
  if (CControlUI* root = pm.GetRoot())
    describeControl(window, root, pm.GetClientSize(), controls, pages);
  std::string out = "{\"class\":";
  appendJsonString(out, window->GetWindowClassName());
  out += ",\"bounds\":";
  appendRect(out, window->GetWindowRect());
  out += ",\"shown\":";
  out += window->IsWindowVisible() ? "true" : "false";
  char scale[32];
  std::snprintf(scale, sizeof(scale), "%.3f", window->GetScale());
  out += ",\"scale\":" + std::string(scale);
  out += ",\"pages\":{" + pages + "},\"controls\":{" + controls + "}}\n";
  return out;
}

void UpdateProbe(CWindowWnd* window) {
  if (!probeFolder() || window->GetHWND() == 0) return;
  writeWhole(probePath(window), Describe(window));
}

void UpdateLoopProbe(const MessageLoop::Stall& stall) {
  if (!probeFolder()) return;
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.3f",
                std::chrono::duration<double, std::milli>(stall.length).count());
  std::string text = "{\"longest_stall_ms\":" + std::string(ms) + ",\"what\":";
  appendJsonString(text, stall.what);
  text += "}\n";
  writeWhole(*probeFolder() + "/loop.json", text);
}

void RemoveProbe(CWindowWnd* window) {
  if (!probeFolder() || window->GetHWND() == 0) return;
  std::remove(probePath(window).c_str());
}

}  // namespace ui::automation
