#ifndef WEBSETUP_UIFRAMEWORK_WIN32_INPUT_WIN_H_
#define WEBSETUP_UIFRAMEWORK_WIN32_INPUT_WIN_H_

// Keyboard and text input of the Win32 host turned into the framework's
// terms: virtual keys into KeyEvent codes, UTF-16 WM_CHAR units into UTF-8
// text, and the input method's strings. UI thread.

#include <windows.h>

#include <string>

#include "uiframework/control.h"

namespace ui::win {

// The framework's code of virtual key `vk` (the same numbers for the keys
// controls use); 0 for keys no control uses.
int KeyFromVirtualKey(WPARAM vk);

// The modifiers held while the message being handled was queued.
unsigned HeldModifiers();

// Joins the UTF-16 code units of consecutive WM_CHAR messages: a character
// outside the BMP arrives as two messages, a high and a low surrogate.
class CharJoiner {
 public:
  // Takes one unit. Returns true with the UTF-8 of a whole printable
  // character in *utf8; false while half a pair waits, and for control
  // characters (those come as keys) and stray surrogates, which are
  // dropped.
  bool Add(wchar_t unit, std::string* utf8);

 private:
  wchar_t high_ = 0;
};

// The input method's composition (`kind` GCS_COMPSTR) or result
// (GCS_RESULTSTR) string of `hwnd`'s context, as UTF-8, and with
// GCS_COMPSTR the cursor as a character (not UTF-16 unit) offset.
std::string ImeString(HWND hwnd, DWORD kind, int* cursor);

// Switches `hwnd`'s input method on (the thread's default context) or off
// (no context: keys reach the window as they are), cancelling a
// composition under way.
void SwitchInputMethod(HWND hwnd, bool on);

// Puts the input method's composition window at the top left of `caret`
// (client device pixels) and its candidate list below it, never over it.
void PlaceInputMethod(HWND hwnd, const RECT& caret);

// The number of characters in the first `units` UTF-16 units of `text`.
int CharactersInUnits(const std::wstring& text, int units);

}  // namespace ui::win

#endif  // WEBSETUP_UIFRAMEWORK_WIN32_INPUT_WIN_H_
