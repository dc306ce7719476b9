// The running Windows and the user's UI language, in the shapes the
// system facts take on every backend: a release name with a version id, and
// a locale name the shared locale table maps to a language id.

#include <windows.h>

#include <cwctype>
#include <string>

#include "platform/os_info.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

struct NtVersion {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  BYTE productType = VER_NT_WORKSTATION;
};

// RtlGetVersion tells the truth; GetVersionExW reports 6.2 to any program
// whose manifest does not list the running Windows as supported. ntdll is
// in every process, so it is asked for the function, never loaded.
bool ntVersion(NtVersion* out) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtlGetVersion == nullptr) return false;
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion(&info) != 0) return false;
  out->major = info.dwMajorVersion;
  out->minor = info.dwMinorVersion;
  out->build = info.dwBuildNumber;
  out->productType = info.wProductType;
  return true;
}

std::string windowsName(const NtVersion& v) {
  const bool workstation = v.productType == VER_NT_WORKSTATION;
  if (v.major == 10 && v.minor == 0) {
    // Windows 11 and the newer servers kept 10.0; only the build tells.
    if (workstation) return v.build >= 22000 ? "Windows 11" : "Windows 10";
    if (v.build >= 26100) return "Windows Server 2025";
    if (v.build >= 20348) return "Windows Server 2022";
    if (v.build >= 17763) return "Windows Server 2019";
    return "Windows Server 2016";
  }
  if (v.major == 6) {
    switch (v.minor) {
      case 0: return workstation ? "Windows Vista" : "Windows Server 2008";
      case 1: return workstation ? "Windows 7" : "Windows Server 2008 R2";
      case 2: return workstation ? "Windows 8" : "Windows Server 2012";
      case 3: return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
      default: break;
    }
  }
  if (v.major == 5 && v.minor == 2) {
    return workstation ? "Windows XP Professional x64 Edition" : "Windows Server 2003";
  }
  if (v.major == 5 && v.minor == 1) return "Windows XP";
  return "Windows NT " + std::to_string(v.major) + "." + std::to_string(v.minor);
}

// The file's text, or empty when it cannot be read. An os-release file is
// small; anything past 64 KiB is not one.
std::string readSmallFile(const std::string& path) {
  win::UniqueHandle file(CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return {};
  std::string text(64 * 1024, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return {};
  text.resize(got);
  return text;
}

// "zh-CN" → "zh_CN", "sr-Latn-RS" → "sr_RS", "zh-Hans" → "zh": the
// language, and the region when the name has one (two letters, or the
// three digits of a UN area code).
std::string posixLocaleName(const std::wstring& bcp47) {
  std::wstring language, region;
  size_t start = 0;
  for (bool first = true;; first = false) {
    const size_t dash = bcp47.find(L'-', start);
    const std::wstring tag = bcp47.substr(start, dash - start);
    if (first) {
      language = tag;
    } else if (tag.size() == 2 || (tag.size() == 3 && iswdigit(tag[0]))) {
      region = tag;
    }
    if (dash == std::wstring::npos) break;
    start = dash + 1;
  }
  if (language.empty()) return {};
  return win::narrow(region.empty() ? language : language + L"_" + region);
}

}  // namespace

OsRelease osRelease(const std::string& path) {
  OsRelease result;
  if (!path.empty()) result = parseOsRelease(readSmallFile(path));
  if (!result.prettyName.empty()) return result;
  NtVersion v;
  if (!ntVersion(&v)) return {"Windows", "", 0, 0};
  result.prettyName = windowsName(v);
  result.windowsMajor = v.major;
  result.windowsMinor = v.minor;
  result.versionId =
      std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
  return result;
}

std::string uiLocale() {
  const LANGID language = GetUserDefaultUILanguage();
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) <= 0) {
    return "C";
  }
  const std::string posix = posixLocaleName(name);
  return posix.empty() ? "C" : posix;
}

}  // namespace platform
