#include "platform/download_file.h"

#include <algorithm>
#include <limits>

#include "platform/win32/win_util.h"

namespace platform {

namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

DownloadFile::~DownloadFile() { close(); }

int DownloadFile::open(const std::string& path) {
  close();
  // OPEN_ALWAYS keeps the bytes of an earlier run and creates a missing
  // file. Readers may look in while workers write (the size check of a
  // resumed download); nobody else may write or delete it meanwhile.
  const HANDLE h = CreateFileW(win::widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_SHARING_VIOLATION) return kSharingViolation;
    // The engine logs the number; a Windows code is the one a reader of
    // the log can look up. None of them is 0.
    return static_cast<int>(err);
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return 0;
}

void DownloadFile::close() {
  if (handle_ != kClosed) CloseHandle(asHandle(handle_));
  handle_ = kClosed;
}

size_t DownloadFile::writeAt(int64_t pos, const void* data, size_t size) {
  if (handle_ == kClosed || pos < 0) return 0;
  // WriteFile takes a 32-bit length: a larger chunk is written short, as
  // the contract allows, and the caller writes the rest.
  const DWORD length =
      static_cast<DWORD>(std::min<size_t>(size, std::numeric_limits<DWORD>::max()));
  // The offset travels with the call, so writers share no file position.
  // The handle is synchronous, so the call returns once the bytes are in.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(pos));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
  DWORD written = 0;
  if (!WriteFile(asHandle(handle_), data, length, &written, &at)) return 0;
  return written;
}

}  // namespace platform
