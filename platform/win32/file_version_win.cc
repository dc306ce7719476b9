// Our Windows programs carry their version as a VERSIONINFO resource
// (websetup_stamp_version writes it, windres compiles it), which is what
// Explorer's Details tab, installers and inventory tools read. Reading it
// through the version API rather than parsing the resource ourselves keeps
// the answer the one Windows gives for any file, ours or not.

#include "platform/win32/file_version_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/win_util.h"

namespace platform::win {
namespace {

// The string tables to look in: the file's own list first, then the
// tables most resource compilers write when they write no list (US
// English in Unicode or in the Western code page, and neutral).
std::vector<std::wstring> stringTables(const void* info) {
  std::vector<std::wstring> tables;
  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* raw = nullptr;
  UINT bytes = 0;
  if (VerQueryValueW(info, L"\\VarFileInfo\\Translation", &raw, &bytes) && raw != nullptr) {
    const auto* list = static_cast<const Translation*>(raw);
    for (UINT i = 0; i < bytes / sizeof(Translation); ++i) {
      wchar_t name[16];
      std::swprintf(name, 16, L"%04x%04x", list[i].language, list[i].codePage);
      tables.push_back(name);
    }
  }
  for (const wchar_t* fallback : {L"040904b0", L"040904e4", L"000004b0"})
    tables.push_back(fallback);
  return tables;
}

// The string `key` of the first table that holds a non-empty one. Line
// breaks become spaces: each value must stay on its line.
std::string stringValue(const void* info, const std::vector<std::wstring>& tables,
                        const wchar_t* key) {
  for (const std::wstring& table : tables) {
    const std::wstring query = L"\\StringFileInfo\\" + table + L"\\" + key;
    void* raw = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(info, query.c_str(), &raw, &chars) || raw == nullptr || chars == 0) {
      continue;
    }
    std::wstring value(static_cast<const wchar_t*>(raw), chars);
    value.resize(value.find(L'\0') == std::wstring::npos ? value.size() : value.find(L'\0'));
    for (wchar_t& c : value) {
      if (c == L'\r' || c == L'\n') c = L' ';
    }
    if (!value.empty()) return narrow(value);
  }
  return {};
}

// The four numbers of the fixed part, which is what Windows means by a
// file's version; the string of the same name is free text.
std::string fixedFileVersion(const void* info) {
  void* raw = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueW(info, L"\\", &raw, &bytes) || raw == nullptr ||
      bytes < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(raw);
  if (fixed->dwSignature != 0xFEEF04BD) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
  return text;
}

}  // namespace

PlatformResult readVersionResourceLines(const std::string& path, std::string* out,
                                        size_t maxBytes) {
  out->clear();
  // The loader behind the version API takes '\' only.
  std::wstring file = widen(path);
  for (wchar_t& c : file) {
    if (c == L'/') c = L'\\';
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return PlatformResult::kNotFound;
  std::vector<BYTE> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return PlatformResult::kNotFound;

  const std::vector<std::wstring> tables = stringTables(info.data());
  std::string fileVersion = fixedFileVersion(info.data());
  if (fileVersion.empty()) fileVersion = stringValue(info.data(), tables, L"FileVersion");
  const std::pair<const char*, std::string> lines[] = {
      {"ProductName", stringValue(info.data(), tables, L"ProductName")},
      {"ProductVersion", stringValue(info.data(), tables, L"ProductVersion")},
      {"FileVersion", fileVersion},
      {"LegalCopyright", stringValue(info.data(), tables, L"LegalCopyright")},
      {"FileDescription", stringValue(info.data(), tables, L"FileDescription")},
      {"CompanyName", stringValue(info.data(), tables, L"CompanyName")},
      {"OriginalFilename", stringValue(info.data(), tables, L"OriginalFilename")},
  };
  std::string text;
  for (const auto& [key, value] : lines) {
    if (!value.empty()) text += std::string(key) + "=" + value + "\n";
  }
  if (text.size() > maxBytes) return PlatformResult::kInvalidArgument;
  *out = std::move(text);
  return PlatformResult::kOk;
}

}  // namespace platform::win
