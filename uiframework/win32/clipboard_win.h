#ifndef WEBSETUP_UIFRAMEWORK_WIN32_CLIPBOARD_WIN_H_
#define WEBSETUP_UIFRAMEWORK_WIN32_CLIPBOARD_WIN_H_

// The Windows clipboard's text (CF_UNICODETEXT). Owned by a window host,
// whose window becomes the clipboard's owner when text is put there
// (Windows refuses SetClipboardData without one). UI thread.

#include <windows.h>

#include <string>

#include "uiframework/clipboard.h"

namespace ui::win {

class WinClipboard : public Clipboard {
 public:
  explicit WinClipboard(HWND owner) : owner_(owner) {}
  // Empty when the clipboard holds no text or stays open in another
  // program.
  std::wstring GetText() override;
  // Does nothing when another program keeps the clipboard open.
  void SetText(const std::wstring& text) override;

 private:
  bool Open();

  HWND owner_;
};

}  // namespace ui::win

#endif  // WEBSETUP_UIFRAMEWORK_WIN32_CLIPBOARD_WIN_H_
