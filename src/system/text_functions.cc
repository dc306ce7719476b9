#include "system/text_functions.h"

#include "common/text.h"
#include "platform/code_page.h"

namespace FuntionImpl {

bool IsCdnUrl(const std::string& url) {
  return url.find("//cdn.") != std::string::npos || url.find("//dl.") != std::string::npos;
}

bool IsCdnUrl(const std::wstring& url) {
  return url.find(L"//cdn.") != std::wstring::npos || url.find(L"//dl.") != std::wstring::npos;
}

bool IsExeName(const std::wstring& name) {
  if (name.size() < 4) return true;
  return name.compare(name.size() - 4, 4, L".exe") == 0;
}

int ReplaceAll(std::wstring* text, const std::wstring& pattern, const std::wstring& replacement) {
  if (text->empty() || pattern.empty()) return 0;
  int count = 0;
  size_t pos = 0;
  while ((pos = text->find(pattern, pos)) != std::wstring::npos) {
    text->replace(pos, pattern.size(), replacement);
    pos += replacement.size();
    ++count;
  }
  return count;
}

std::string GetBucketLabel(int64_t count, const std::string& text) {
  const int64_t a = (count / 3) * 3;
  return "[" + std::to_string(a) + "~" + std::to_string(a + 3) + "]" + text;
}

std::string WideToAnsi(const std::wstring& text) { return platform::wideToAnsi(text); }

std::string WideToUtf8(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring Utf8ToWide(const std::string& text) { return common::utf8ToWide(text); }

// Through wide text, so invalid input comes out as valid UTF-8.
std::string AnsiToUtf8(const std::string& text) {
  return common::wideToUtf8(platform::ansiToWide(text));
}

}  // namespace FuntionImpl
