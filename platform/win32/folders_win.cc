#include "platform/folders.h"

#include "platform/win32/win_util.h"

namespace platform {

PlatformResult listFolder(const std::string& path, std::vector<FolderEntry>* out) {
  out->clear();
  std::wstring pattern = win::widen(path);
  if (!pattern.empty() && pattern.back() != L'/' && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  // The basic level skips the short 8.3 names, which nobody here reads.
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    const DWORD attributes = GetFileAttributesW(win::widen(path).c_str());
    const bool isFolder = attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A drive root has no "." or "..": when it is empty nothing matches.
    if (err == ERROR_FILE_NOT_FOUND && isFolder) return PlatformResult::kOk;
    // A file where the folder should be is no folder, as ENOTDIR says.
    if (attributes != INVALID_FILE_ATTRIBUTES && !isFolder) return PlatformResult::kNotFound;
    return win::resultFromLastError(err);
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderEntry entry;
    entry.name = win::narrow(name);
    // A junction or a symbolic link to a folder carries the folder
    // attribute too; it is not followed, so it is no folder here. Other
    // reparse points (a cloud-synced folder) are real folders.
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                      IsReparseTagNameSurrogate(found.dwReserved0);
    entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link;
    out->push_back(std::move(entry));
  } while (FindNextFileW(find, &found));
  const DWORD err = GetLastError();
  FindClose(find);
  if (err != ERROR_NO_MORE_FILES) {
    out->clear();
    return win::resultFromLastError(err);
  }
  return PlatformResult::kOk;
}

}  // namespace platform
