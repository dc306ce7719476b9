#ifndef WEBSETUP_COMMON_TEXT_H_
#define WEBSETUP_COMMON_TEXT_H_

// Conversions between the program's wide strings (UTF-32 on Linux, UTF-16
// on Windows) and UTF-8, which is also the "ANSI code page" on Linux.
// Invalid UTF-8, and on Windows a lone surrogate, becomes U+FFFD; nothing
// throws.

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);

// The integer value of `text` read the way atoi/_wtoi64 read it: leading
// blanks, an optional sign, then the leading decimal digits; 0 when there
// are none. Saturates instead of overflowing.
int64_t parseLeadingInt64(std::wstring_view text);
int32_t parseLeadingInt32(std::wstring_view text);

// The unsigned decimal number at the start of `text` (blanks and tabs
// skipped), stopping at the first non-digit; 0 when there is none. Stops
// before overflowing. For numbers in protocol headers.
int64_t parseLeadingDigits(std::string_view text);

}  // namespace common

#endif  // WEBSETUP_COMMON_TEXT_H_
