#ifndef WEBSETUP_SYSTEM_SYSTEM_RULES_H_
#define WEBSETUP_SYSTEM_SYSTEM_RULES_H_

// The decision rules of the system facts, as pure functions over plain
// facts: the platform layer gathers the facts, these decide. Stateless;
// thread-safe.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace FuntionImpl {

// What a Windows machine reports about its version, each source optional
// because each can fail there.
struct WindowsVersionFacts {
  // CurrentBuild (or CurrentBuildNumber) of the CurrentVersion key.
  std::optional<std::wstring> currentBuild;
  // RtlGetNtVersionNumbers.
  bool hasNtVersion = false;
  uint32_t ntMajor = 0;
  uint32_t ntMinor = 0;
  // GetVersionEx (extended) and GetSystemInfo.
  bool hasVersionEx = false;
  uint32_t major = 0;
  uint32_t minor = 0;
  bool platformNt = true;            // VER_PLATFORM_WIN32_NT, else 9x
  uint8_t productType = 1;           // 1 = workstation
  uint16_t processorArchitecture = 0;  // 9 = x64
  bool serverR2 = false;             // GetSystemMetrics(SM_SERVERR2) != 0
};

// The Windows name of `facts`; stores its number in *number where the
// rules give one and leaves it unchanged otherwise. Empty name for an
// unknown minor version of 4, 5 or 6 or a failed version query; "Error"
// for another major version.
std::string WindowsNameFromFacts(const WindowsVersionFacts& facts, float* number);

// The version number the Windows version rules (legacy package below
// 10.0, the legacy link check) read on a system that is not Windows. Every
// system this setup runs on takes the current package: "RHEL 9" or
// "Alpine 3" is no Windows 9 or 3.
constexpr float kWindowsEquivalentVersion = 10.0f;

// The system name and rule version of a non-Windows system from its
// os-release facts: the pretty name, with the version id appended when the
// name does not show it already (the name is what texts display), and
// kWindowsEquivalentVersion in *number whatever the version id says.
std::string SystemNameFromRelease(const std::string& prettyName, const std::string& versionId,
                                  float* number);

// "Language_Country" of a Windows language id, or "0x%.4x_0x%.4x" of the
// id for one outside the table.
std::string LanguageNameOfId(uint16_t languageId);

// Number of entries of the language-name table.
size_t LanguageNameCount();

// One drive as the best-drive rule sees it.
struct DriveCandidate {
  std::wstring root;  // ends in the separator
  bool fixed = false;
  bool usb = false;
  bool writable = true;
  uint64_t freeBytes = 0;
  bool runsPrograms = true;  // not mounted noexec (nor nosuid, for root)
};

// Moves `path`, whose drive root is `pathRoot` (a prefix of it), to the
// qualifying drive (fixed, not USB, writable, may start programs) with most free space; ties
// keep the earlier drive. The path is unchanged when no drive qualifies or
// `pathRoot` is not a prefix of it.
std::wstring MoveToBestDrive(const std::wstring& path, const std::wstring& pathRoot,
                             const std::vector<DriveCandidate>& drives);

// Compares dotted version texts ("4.7.2") part by part over their first
// four parts, each read as a decimal integer (a missing part is 0).
// Returns <0, 0 or >0 as `a` is older, equal or newer than `b`.
int CompareVersionTexts(const std::wstring& a, const std::wstring& b);

// The NetFrameworkVersion setting of a NetFrameCheck.db text (its
// [Settings] section, read line by line, up to [Text]); the rest of the
// line after '=', line end included. Empty when there is none.
std::wstring NeededNetFrameVersion(const std::wstring& fileText);

// "PPC", "CN" or "SEO" for a site id.
std::string SiteTrafficType(int siteId);

// Site id -> base brand label: deployment data of the product line.
using BrandTable = std::map<int, std::string>;

// The brand label of `siteId` for `text` (the download URL): the base of
// `brands`, varied by the marker rules of the site ids that have them. The
// id in decimal when `brands` does not hold it.
std::string BrandLabel(int siteId, const std::string& text, const BrandTable& brands);

// The fixed-zone (UTC+8, no daylight saving) time of `utcSeconds` as
// "%04d-%02d-%02d %02d:%02d:%02d".
std::string FormatFixedZoneTime(int64_t utcSeconds);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_SYSTEM_RULES_H_
