#include "install/installer_cache.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "common/text.h"

namespace install {
namespace {

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring toLower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

void removeIfPresent(const std::wstring& path) { std::remove(narrow(path).c_str()); }

}  // namespace

bool IsSafeNamePart(const std::wstring& text) {
  if (text.find(L"..") != std::wstring::npos) return false;
  for (const wchar_t c : text) {
    if (c == L'/' || c == L'\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool IsInstallerUrl(const std::wstring& extraUrl) {
  return extraUrl.size() < 4 || extraUrl.compare(extraUrl.size() - 4, 4, L".exe") == 0;
}

InstallerFiles InstallerFilesFor(const std::wstring& cacheDir, const std::wstring& embeddedExtraUrl,
                                 const std::wstring& version, const std::wstring& extraUrl) {
  std::wstring stem = embeddedExtraUrl;
  const size_t slash = stem.rfind(L'/');
  if (slash != std::wstring::npos) stem = stem.substr(slash + 1);
  const size_t dot = stem.find(L'.');
  if (dot != std::wstring::npos) stem = stem.substr(0, dot);
  // The version comes from the server: one that could leave the cache
  // folder or break the name is no version.
  const std::wstring safeVersion = IsSafeNamePart(version) ? version : L"";
  return {cacheDir + L"/" + stem + L"_" + safeVersion +
          (IsInstallerUrl(extraUrl) ? L".exe" : L".apk")};
}

bool RemoveInstallerFiles(const InstallerFiles& files, int* error) {
  const bool removed = std::remove(narrow(files.installer).c_str()) == 0;
  *error = removed ? 0 : errno;
  removeIfPresent(files.taskFile());
  removeIfPresent(files.hashRecord());
  return removed;
}

void ApplyHashRecord(const InstallerFiles& files, const std::wstring& version,
                     const std::wstring& md5, const std::wstring& md5Extra) {
  const std::string dbPath = narrow(files.hashRecord());
  std::ifstream db(dbPath, std::ios::binary);
  if (!db) return;
  std::string line;
  std::getline(db, line);
  if (line.size() > 260) line.resize(260);
  db.close();
  std::wstring recordVersion, recordMd5;
  const std::wstring text = common::utf8ToWide(line);
  const size_t mark = text.find(L"###");
  if (mark != std::wstring::npos) {
    recordVersion = text.substr(0, mark);
    recordMd5 = toLower(text.substr(mark + 3));
  }
  const bool keep = recordVersion == version && (recordMd5 == md5 || recordMd5 == md5Extra);
  if (!keep) {
    removeIfPresent(files.installer);
    removeIfPresent(files.taskFile());
  }
  std::remove(dbPath.c_str());
}

}  // namespace install
