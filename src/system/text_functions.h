#ifndef WEBSETUP_SYSTEM_TEXT_FUNCTIONS_H_
#define WEBSETUP_SYSTEM_TEXT_FUNCTIONS_H_

// Small text helpers of the system services. Stateless; thread-safe.
// The "ANSI code page" is the process's (platform/code_page.h): UTF-8 on
// Linux and, through the program's manifest, on current Windows.

#include <cstdint>
#include <string>

namespace FuntionImpl {

// True when `url` contains "//cdn." or "//dl." (case-sensitive).
bool IsCdnUrl(const std::string& url);
bool IsCdnUrl(const std::wstring& url);

// True when `name` ends in ".exe" (case-sensitive), and for names shorter
// than four characters.
bool IsExeName(const std::wstring& name);

// Replaces every `pattern` in *text by `replacement`, left to right,
// continuing after each inserted replacement. Returns the number of
// replacements; 0 when *text or `pattern` is empty.
int ReplaceAll(std::wstring* text, const std::wstring& pattern, const std::wstring& replacement);

// "[a~a+3]" followed by `text`, where a = (count / 3) * 3: 7 gives "[6~9]".
std::string GetBucketLabel(int64_t count, const std::string& text);

// Code-page conversions. Invalid input becomes U+FFFD; nothing throws.
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string AnsiToUtf8(const std::string& text);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_TEXT_FUNCTIONS_H_
