#ifndef WEBSETUP_PLATFORM_CODE_PAGE_H_
#define WEBSETUP_PLATFORM_CODE_PAGE_H_

// The process's "ANSI code page": the narrow encoding of paths and URLs
// handed to the C library and libcurl. On Linux it is UTF-8. On Windows it
// is the code page WideCharToMultiByte(CP_ACP) uses, which the program's
// manifest sets to UTF-8 wherever Windows allows it (version 1903 and
// later), so a path with any character survives; on older Windows it is
// the system's legacy code page. Stateless; thread-safe.

#include <string>

namespace platform {

// Characters the code page cannot hold become '?'; nothing throws.
std::string wideToAnsi(const std::wstring& text);
// Bytes that are not text in the code page become U+FFFD.
std::wstring ansiToWide(const std::string& text);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_CODE_PAGE_H_
