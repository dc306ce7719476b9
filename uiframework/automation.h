#ifndef WEBSETUP_UIFRAMEWORK_AUTOMATION_H_
#define WEBSETUP_UIFRAMEWORK_AUTOMATION_H_

// Driving a window as a user would, for tests and debugging: find a control
// by name, click it through the normal mouse path, read texts, visibility
// and pages, take screenshots. UI thread only.

#include <string>

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
// Types `utf8` into edit `name` after clicking it.
bool TypeText(CWindowWnd* window, const std::wstring& name, const std::string& utf8);

std::wstring Text(CWindowWnd* window, const std::wstring& name);
bool IsVisible(CWindowWnd* window, const std::wstring& name);
// The selected page of tab layout `name`, or -1.
int CurrentPage(CWindowWnd* window, const std::wstring& name);
bool Screenshot(CWindowWnd* window, const std::string& png_path);

}  // namespace ui::automation

#endif  // WEBSETUP_UIFRAMEWORK_AUTOMATION_H_
