#include "uiframework/win32/input_win.h"

// After windows.h (from the header), whose types it uses.
#include <imm.h>

#include <algorithm>

#include "common/text.h"

namespace ui::win {

int KeyFromVirtualKey(WPARAM vk) {
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return static_cast<int>(vk);
  switch (vk) {
    case VK_BACK: return kKeyBackspace;
    case VK_TAB: return kKeyTab;
    case VK_RETURN: return kKeyReturn;  // the keypad's Enter too (extended bit)
    case VK_ESCAPE: return kKeyEscape;
    case VK_SPACE: return kKeySpace;
    case VK_PRIOR: return kKeyPageUp;
    case VK_NEXT: return kKeyPageDown;
    case VK_END: return kKeyEnd;
    case VK_HOME: return kKeyHome;
    case VK_LEFT: return kKeyLeft;
    case VK_UP: return kKeyUp;
    case VK_RIGHT: return kKeyRight;
    case VK_DOWN: return kKeyDown;
    case VK_INSERT: return kKeyInsert;
    case VK_DELETE: return kKeyDelete;
    default: return 0;
  }
}

unsigned HeldModifiers() {
  // GetKeyState, not GetAsyncKeyState: the state as of the message, so a
  // Ctrl released before a slow handler got to its C still counts.
  unsigned mods = kModNone;
  if (GetKeyState(VK_SHIFT) < 0) mods |= kModShift;
  if (GetKeyState(VK_CONTROL) < 0) mods |= kModCtrl;
  if (GetKeyState(VK_MENU) < 0) mods |= kModAlt;
  return mods;
}

bool CharJoiner::Add(wchar_t unit, std::string* utf8) {
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    high_ = unit;
    return false;
  }
  wchar_t pair[2] = {unit, 0};
  size_t length = 1;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (high_ == 0) return false;
    pair[0] = high_;
    pair[1] = unit;
    length = 2;
  }
  high_ = 0;
  if (length == 1 && (unit < 0x20 || unit == 0x7F)) return false;
  *utf8 = common::wideToUtf8(std::wstring_view(pair, length));
  return true;
}

std::string ImeString(HWND hwnd, DWORD kind, int* cursor) {
  HIMC imc = ImmGetContext(hwnd);
  if (imc == nullptr) return {};
  std::wstring text;
  LONG bytes = ImmGetCompositionStringW(imc, kind, nullptr, 0);
  if (bytes > 0) {
    text.resize(static_cast<size_t>(bytes) / sizeof(wchar_t));
    ImmGetCompositionStringW(imc, kind, text.data(), static_cast<DWORD>(bytes));
  }
  if (cursor != nullptr) {
    LONG units = ImmGetCompositionStringW(imc, GCS_CURSORPOS, nullptr, 0);
    *cursor = CharactersInUnits(text, std::clamp<int>(units, 0, static_cast<int>(text.size())));
  }
  ImmReleaseContext(hwnd, imc);
  return common::wideToUtf8(text);
}

void SwitchInputMethod(HWND hwnd, bool on) {
  if (!on) {
    if (HIMC imc = ImmGetContext(hwnd)) {
      ImmNotifyIME(imc, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
      ImmReleaseContext(hwnd, imc);
    }
  }
  ImmAssociateContextEx(hwnd, nullptr, on ? IACE_DEFAULT : 0);
}

void PlaceInputMethod(HWND hwnd, const RECT& caret) {
  HIMC imc = ImmGetContext(hwnd);
  if (imc == nullptr) return;
  COMPOSITIONFORM composition{};
  composition.dwStyle = CFS_POINT;
  composition.ptCurrentPos = POINT{caret.left, caret.top};
  ImmSetCompositionWindow(imc, &composition);
  CANDIDATEFORM candidate{};
  candidate.dwIndex = 0;
  candidate.dwStyle = CFS_EXCLUDE;
  candidate.ptCurrentPos = POINT{caret.left, caret.bottom};
  candidate.rcArea = caret;
  ImmSetCandidateWindow(imc, &candidate);
  ImmReleaseContext(hwnd, imc);
}

int CharactersInUnits(const std::wstring& text, int units) {
  int characters = 0;
  for (int i = 0; i < units && i < static_cast<int>(text.size()); ++i) {
    // The low half of a pair adds no character of its own.
    if (!(text[i] >= 0xDC00 && text[i] <= 0xDFFF && i > 0 && text[i - 1] >= 0xD800 &&
          text[i - 1] <= 0xDBFF)) {
      ++characters;
    }
  }
  return characters;
}

}  // namespace ui::win
