#ifndef WEBSETUP_UIFRAMEWORK_CLIPBOARD_H_
#define WEBSETUP_UIFRAMEWORK_CLIPBOARD_H_

// The text clipboard that copy, cut and paste of text fields use. Each host
// hands out its own: the SDL host the desktop's clipboard, the headless
// host one kept in this process (shared by all headless windows), so tests
// can put text there and read it back. UI thread only.

#include <string>

namespace ui {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // The clipboard's text; empty when it holds none (or no text).
  virtual std::wstring GetText() = 0;
  // Replaces the clipboard's content with `text`.
  virtual void SetText(const std::wstring& text) = 0;
};

// The in-process clipboard of headless windows. Never null.
Clipboard* GetMemoryClipboard();

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_CLIPBOARD_H_
