#include "uiframework/win32/clipboard_win.h"

#include <cstring>

namespace ui::win {

bool WinClipboard::Open() {
  // Clipboard managers and remote-desktop clients open the clipboard for a
  // moment whenever it changes; a short retry rides that out without
  // holding the window up noticeably.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (OpenClipboard(owner_)) return true;
    Sleep(10);
  }
  return false;
}

std::wstring WinClipboard::GetText() {
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !Open()) return {};
  std::wstring text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      // Bounded by the block, in case a program put text there unended.
      const size_t limit = GlobalSize(data) / sizeof(wchar_t);
      text.assign(chars, wcsnlen(chars, limit));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void WinClipboard::SetText(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (block == nullptr) return;
  if (void* chars = GlobalLock(block)) {
    std::memcpy(chars, text.c_str(), bytes);
    GlobalUnlock(block);
  }
  if (!Open()) {
    GlobalFree(block);
    return;
  }
  EmptyClipboard();
  // On success the clipboard owns the block.
  if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) GlobalFree(block);
  CloseClipboard();
}

}  // namespace ui::win
