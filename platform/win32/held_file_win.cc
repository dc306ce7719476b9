#include <aclapi.h>

#include <utility>
#include <vector>

#include "platform/held_file.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The owner of files this process makes: the user, or (elevated) the
// Administrators group the token names as default owner.
bool ownedByUs(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  bool ours = false;
  const std::vector<BYTE> user = win::processTokenInformation(TokenUser);
  const std::vector<BYTE> defaultOwner = win::processTokenInformation(TokenOwner);
  if (!user.empty() &&
      EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) {
    ours = true;
  }
  if (!defaultOwner.empty() &&
      EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner)) {
    ours = true;
  }
  LocalFree(sd);
  return ours;
}

std::string finalPath(HANDLE file) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(file, buffer.data(),
                                              static_cast<DWORD>(buffer.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return win::outwardPath(std::move(buffer));
    }
    buffer.resize(n);
  }
}

}  // namespace

HeldFile::~HeldFile() { close(); }

HeldFile::HeldFile(HeldFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)),
      path_(std::move(other.path_)),
      origin_(std::move(other.origin_)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kClosed);
    path_ = std::move(other.path_);
    origin_ = std::move(other.origin_);
  }
  return *this;
}

void HeldFile::close() {
  if (handle_ != kClosed) CloseHandle(asHandle(handle_));
  handle_ = kClosed;
  path_.clear();
  origin_.clear();
}

PlatformResult HeldFile::open(const std::string& path, HeldFile* out, int* osError) {
  int ignored = 0;
  if (osError == nullptr) osError = &ignored;
  *osError = 0;
  out->close();
  // Sharing only reading lets the signature check and CreateProcess open
  // the file (both ask for read and execute access, both share reading),
  // while it keeps out every writer and every rename or delete: without
  // FILE_SHARE_DELETE the name cannot go to another file. A writer that
  // still has the file open makes this open fail instead. The handle is not
  // inherited, so no child keeps the file locked after we close it.
  // OPEN_REPARSE_POINT opens a symbolic link itself, which the checks
  // below then refuse.
  win::UniqueHandle h(CreateFileW(win::widen(path).c_str(), GENERIC_READ | READ_CONTROL,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) {
    const DWORD err = GetLastError();
    *osError = static_cast<int>(err);
    return win::resultFromLastError(err);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool regular =
      GetFileType(h.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(h.get(), &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  if (!regular || !ownedByUs(h.get())) {
    *osError = ERROR_ACCESS_DENIED;
    return PlatformResult::kAccessDenied;
  }
  std::string held = finalPath(h.get());
  if (held.empty()) {
    const DWORD err = GetLastError();
    *osError = static_cast<int>(err);
    return win::resultFromLastError(err);
  }
  out->handle_ = reinterpret_cast<intptr_t>(h.release());
  out->path_ = std::move(held);
  out->origin_ = path;
  return PlatformResult::kOk;
}

PlatformResult HeldFile::copyTo(const std::string& target) const {
  if (handle_ == kClosed) return PlatformResult::kInvalidArgument;
  const std::wstring wideTarget = win::widen(target);
  // CREATE_NEW fails on any name already there, a link among them. The
  // copy takes the rights of its (private) folder.
  win::UniqueHandle out(CreateFileW(wideTarget.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return win::lastResult();
  std::vector<char> buffer(1 << 16);
  uint64_t at = 0;
  PlatformResult result = PlatformResult::kOk;
  for (;;) {
    // Positioned reads leave the held handle's file position alone.
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD n = 0;
    if (!ReadFile(asHandle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()), &n,
                  &where)) {
      if (GetLastError() != ERROR_HANDLE_EOF) result = win::lastResult();
      break;
    }
    if (n == 0) break;
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.data(), n, &written, nullptr)) {
      result = win::lastResult();
      break;
    }
    if (written != n) {
      result = PlatformResult::kIoError;
      break;
    }
    at += n;
  }
  out.reset();
  if (result != PlatformResult::kOk) DeleteFileW(wideTarget.c_str());
  return result;
}

}  // namespace platform
