#include "platform/files.h"

#include <algorithm>

#include "platform/win32/win_util.h"

namespace platform {

namespace {

// Readers that open a file only for a moment (virus scanners, the search
// indexer) make a replacement fail with a sharing violation; they are gone
// again after a few milliseconds.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplacePauseMs = 50;

// The attributes and size of `path`, through a symbolic link or junction
// to what it names, as stat() gives them.
bool followedFacts(const std::string& path, DWORD* attributes, int64_t* size) {
  const std::wstring wide = win::widen(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    *attributes = data.dwFileAttributes;
    *size = (int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
  }
  // The attributes above are the link's own; opening it follows it.
  win::UniqueHandle h(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.valid() || !GetFileInformationByHandle(h.get(), &info)) return false;
  *attributes = info.dwFileAttributes;
  *size = (int64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return true;
}

bool writeAll(HANDLE h, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, content.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool fileReadable(const std::string& path) {
  // Folders count, as access(R_OK) counts them; BACKUP_SEMANTICS lets
  // CreateFileW open one.
  win::UniqueHandle h(CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.valid();
}

bool isRegularFile(const std::string& path) {
  DWORD attributes = 0;
  int64_t size = 0;
  return followedFacts(path, &attributes, &size) &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

int64_t fileSize(const std::string& path) {
  DWORD attributes = 0;
  int64_t size = 0;
  return followedFacts(path, &attributes, &size) ? size : -1;
}

bool deleteFile(const std::string& path) {
  if (DeleteFileW(win::widen(path).c_str())) return true;
  const DWORD err = GetLastError();
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

bool replaceFileAtomically(const std::string& path, const std::string& content) {
  const std::wstring target = win::widen(path);
  const std::wstring tmp = target + L".tmp";
  win::UniqueHandle h(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  // The bytes reach the disk before the name does: after a power cut the
  // path holds the old content or the new one, never an empty file.
  const bool written = writeAll(h.get(), content) && FlushFileBuffers(h.get());
  h.reset();
  if (!written) {
    DeleteFileW(tmp.c_str());
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(tmp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD err = GetLastError();
    const bool passing = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED ||
                         err == ERROR_LOCK_VIOLATION;
    if (!passing || attempt == kReplaceAttempts) break;
    Sleep(kReplacePauseMs);
  }
  DeleteFileW(tmp.c_str());
  return false;
}

}  // namespace platform
