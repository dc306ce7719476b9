#include <windows.h>

#include <climits>

#include "platform/code_page.h"

namespace platform {

std::string wideToAnsi(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX / 4) return std::string();
  const int length = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring ansiToWide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (chars <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), chars);
  return out;
}

}  // namespace platform
