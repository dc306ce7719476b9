#ifndef WEBSETUP_SYSTEM_SYSTEM_FACTS_H_
#define WEBSETUP_SYSTEM_SYSTEM_FACTS_H_

// Facts about this machine that the setup window, the install flow and
// telemetry ask for. Free functions without state (the screen source and
// the brand table are the settings, made once at start-up); thread-safe.

#include <functional>
#include <map>
#include <string>

namespace FuntionImpl {

// The operating system's name (os-release PRETTY_NAME, else uname, with
// VERSION_ID when the name lacks it; on Windows its product name and build)
// and, in *number, the version the version rules read: Windows' own
// major.minor there, elsewhere kWindowsEquivalentVersion (never legacy).
std::string GetSystemName(float* number);

// True when the operating system is 64-bit.
bool IsSystem64Bit();

// The user's UI language as "Language_Country" (from the locale's Windows
// language id), or "0x%.4x_0x%.4x" of an id outside the table.
std::string GetSystemLanguageName();

// The display's pixel size in *width and *height; returns the scale factor
// (pixel width over the width the desktop reports). 0 x 0 and 1.0 when no
// display is known.
double GetScreenSize(int* width, int* height);

// Who knows the display: the window layer sets this once it has one.
// The source stores the pixel size and the desktop's logical width and
// returns false when there is no display.
using ScreenSource = std::function<bool(int* pixelWidth, int* pixelHeight, int* logicalWidth)>;
void SetScreenSource(ScreenSource source);

// `path` moved to the best local drive: the drive root (mount point) of the
// path is replaced by that of the fixed, non-USB, writable file system with
// most free space (ties keep the earlier one in mount order). Unchanged when
// no drive qualifies.
std::wstring GetBestDrivePath(const std::wstring& path);

// String value `name` of HKEY_LOCAL_MACHINE\`key` in the registry store;
// empty when missing, not a string or longer than 260 characters.
std::wstring GetRegString(const std::wstring& key, const std::wstring& name);

// Creates HKEY_LOCAL_MACHINE\`key` if needed and sets string value `name`.
// True when written.
bool SetRegString(const std::wstring& key, const std::wstring& name, const std::wstring& data);

// The time now in UTC+8 as "%04d-%02d-%02d %02d:%02d:%02d".
std::string GetFixedZoneTime();

// The developer settings of qm_downloader.cfg beside the executable; each
// is on only when its value is exactly 1.
bool IsTestEnv();
bool IsAutoRun();
bool IsCrashTest();

// Authorises the executable at `imagePath` in the firewall. There is no
// per-application firewall here, so every application counts as
// authorised: prints that to standard output and returns 0.
int AuthorizeInFirewall(const std::wstring& imagePath);

// True when the product in `directory` needs a newer .NET Framework
// (NetFrameCheck.db there) than the version the registry store records.
// Logs both versions when a need is recorded.
bool WillShowNetFrameCheck(const std::wstring& directory);

// "PPC", "CN" or "SEO" for the configuration's site id.
std::string GetSiteTrafficType(int siteId);

// The brand table (site id -> base brand label) of the deployment, which
// whoever reads the deployment's data sets at start-up; the system services
// carry only the marker rules. Until it is set every site id is labelled by
// its number.
void SetBrandTable(std::map<int, std::string> brands);

// The brand label of the site id for `text` (the download URL), over the
// table of SetBrandTable.
std::string GetBrandLabel(int siteId, const std::string& text);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_SYSTEM_FACTS_H_
