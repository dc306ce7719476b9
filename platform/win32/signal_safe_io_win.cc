// Files for the crash handler on Windows. The descriptors are the kernel
// handles' own values (64-bit Windows keeps them within 32 bits), not C
// runtime descriptors: _open_osfhandle takes the runtime's descriptor-table
// lock, which the faulting thread may hold. Paths are converted into a
// static buffer, as the handler runs once and its stack is small.

#include "platform/signal_safe_io.h"

#include <atomic>

#include "platform/win32/win_util.h"

namespace platform {

namespace {

// The one conversion buffer, taken with a spin flag: only the handler's
// thread gets here in a real crash, but a test may call in from anywhere.
wchar_t g_widePath[32768];
std::atomic_flag g_widePathBusy = ATOMIC_FLAG_INIT;

int toDescriptor(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(HandleToLong(h));
}

int openFile(const char* path, DWORD access, DWORD disposition) {
  while (g_widePathBusy.test_and_set(std::memory_order_acquire)) Sleep(0);
  int fd = -1;
  const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, g_widePath,
                                    static_cast<int>(sizeof g_widePath / sizeof g_widePath[0]));
  if (n > 0) {
    // Others may keep reading and writing the log while we append to it.
    fd = toDescriptor(CreateFileW(g_widePath, access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  g_widePathBusy.clear(std::memory_order_release);
  return fd;
}

}  // namespace

bool writeAllFromSignalHandler(int fd, const char* data, size_t n) {
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  while (n > 0) {
    const DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD written = 0;
    if (!WriteFile(LongToHandle(fd), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    n -= written;
  }
  return true;
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
// whoever else writes.
int openForAppendFromSignalHandler(const char* path) {
  return openFile(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_EXISTING);
}

// Readable too: the dump writer reads back what the caller wrote before
// it. The file inherits its folder's permissions, which in the user's
// folders admit the user alone.
int createFileFromSignalHandler(const char* path) {
  return openFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
}

bool closeFromSignalHandler(int fd) { return fd >= 0 && CloseHandle(LongToHandle(fd)) != FALSE; }

int lastErrorFromSignalHandler() { return static_cast<int>(GetLastError()); }

int64_t threadIdFromSignalHandler() { return static_cast<int64_t>(GetCurrentThreadId()); }

}  // namespace platform
