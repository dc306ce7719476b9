#ifndef WEBSETUP_UIFRAMEWORK_AUTOMATION_H_
#define WEBSETUP_UIFRAMEWORK_AUTOMATION_H_

// Driving a window as a user would, for tests and debugging: find a control
// by name, click it through the normal mouse path, read texts, visibility
// and pages, take screenshots. UI thread only.

#include <string>

#include "uiframework/message_loop.h"
#include "uiframework/window.h"

namespace ui::automation {

// Clicks the centre of control `name` (mouse move, down, up), so hit
// testing, enabled state and overlapping controls count as for a user.
// Returns false when the control is missing, hidden or disabled.
bool Click(CWindowWnd* window, const std::wstring& name);
// Clicks link `index` of text control `name` as the user would.
bool ClickLink(CWindowWnd* window, const std::wstring& name, int index);
// Opens combo `name` and picks item `index` with the mouse. Returns false
// when the item is not offered (hidden) or the combo is missing.
bool ChooseComboItem(CWindowWnd* window, const std::wstring& name, int index);
// Types `utf8` at the end of edit `name`: clicks it, presses End, then
// delivers the text as the input method commits it.
bool TypeText(CWindowWnd* window, const std::wstring& name, const std::string& utf8);

// Mouse presses at window point (x, y): `clicks` = 2 or 3 make a double or
// triple click. Returns false outside the window.
bool ClickAt(CWindowWnd* window, int x, int y, int clicks = 1);
// Presses at (x0, y0), moves to (x1, y1) and releases there.
bool Drag(CWindowWnd* window, int x0, int y0, int x1, int y1);
// Moves the pointer to the centre of control `name` without pressing, and
// to (x, y); MouseLeave takes it out of the window.
bool Hover(CWindowWnd* window, const std::wstring& name);
void MoveMouse(CWindowWnd* window, int x, int y);
void MouseLeave(CWindowWnd* window);

// Presses `key` (kKey... or an upper-case letter) with `modifiers` held,
// through the path a host's key event takes: the focused control first,
// then the window (an unused Escape is a close request).
void PressKey(CWindowWnd* window, int key, unsigned modifiers = kModNone);
// Delivers text as the input method commits it, to the focused control.
void InputText(CWindowWnd* window, const std::string& utf8);
// Delivers the input method's composition in progress (empty ends it);
// `cursor` -1 puts its cursor at the end.
void Compose(CWindowWnd* window, const std::string& utf8, int cursor = -1);

// The name of the focused control (empty when none) and whether the focus
// came from the keyboard (the focus ring shows).
std::wstring FocusedName(CWindowWnd* window);
bool FocusFromKeyboard(CWindowWnd* window);
// The tooltip on show, or empty.
std::wstring ToolTip(CWindowWnd* window);
// The text of the window host's clipboard, and putting text there.
std::wstring ClipboardText(CWindowWnd* window);
void SetClipboardText(CWindowWnd* window, const std::wstring& text);
// Whether the window's host has the input method switched on.
bool TextInputActive(CWindowWnd* window);

std::wstring Text(CWindowWnd* window, const std::wstring& name);
bool IsVisible(CWindowWnd* window, const std::wstring& name);
// The selected page of tab layout `name`, or -1.
int CurrentPage(CWindowWnd* window, const std::wstring& name);
bool Screenshot(CWindowWnd* window, const std::string& png_path);

// What a driver outside the process needs to click as a person would: the
// window's class, title-independent place on the screen and scale, the
// current page of every tab layout, and each shown named control with its
// rectangle (layout pixels, relative to the window), enabled state, text,
// check state and progress value; an open combo adds the rows on show.
// One JSON object.
std::string Describe(CWindowWnd* window);

// The probe: when WEBSETUP_UI_PROBE names a folder, every window keeps
// `<folder>/window-<handle>.json` (Describe) current after each repaint
// and removes it when it is destroyed. Written whole (renamed into place),
// so a reader never sees half a file. Off, these do nothing.
void UpdateProbe(CWindowWnd* window);
void RemoveProbe(CWindowWnd* window);
// With the probe on, `<folder>/loop.json` holds the message loop's longest
// stall so far ({"longest_stall_ms": 12.5, "what": "paint"}); it stays
// after the windows are gone, for a benchmark to read at the end.
void UpdateLoopProbe(const MessageLoop::Stall& stall);

}  // namespace ui::automation

#endif  // WEBSETUP_UIFRAMEWORK_AUTOMATION_H_
