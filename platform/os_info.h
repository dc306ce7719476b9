#ifndef WEBSETUP_PLATFORM_OS_INFO_H_
#define WEBSETUP_PLATFORM_OS_INFO_H_

// Plain facts about the running operating system and the user's locale,
// for the system-facts services. Thread-safe.

#include <cstdint>
#include <string>

namespace platform {

struct OsRelease {
  std::string prettyName;  // PRETTY_NAME of os-release, else "<sysname> <release>" of uname
  std::string versionId;   // VERSION_ID of os-release; empty when absent
  // Windows' own version (RtlGetVersion: 6.1 is Windows 7); 0.0 on systems
  // that are not Windows.
  uint32_t windowsMajor = 0;
  uint32_t windowsMinor = 0;
};

// Reads /etc/os-release (or /usr/lib/os-release). `path` overrides the file
// for tests.
OsRelease osRelease(const std::string& path = "");

// Parses the text of an os-release file (KEY=value lines, values optionally
// quoted with shell escapes).
OsRelease parseOsRelease(const std::string& text);

// The user's UI locale as POSIX names it: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG; "C" when none is set.
std::string uiLocale();

// The Windows language id (LANGID) of a POSIX locale name such as
// "zh_CN.UTF-8" or "pt_BR@euro": the language and territory pair first,
// then the language alone (its primary country). 0x0409 (English, United
// States) for "C", "POSIX" and anything unknown.
uint16_t languageIdOfLocale(const std::string& locale);

// The territory of a locale name ("CN" for "zh_CN.UTF-8"); empty when none.
std::string territoryOfLocale(const std::string& locale);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_OS_INFO_H_
