// The crash dump on Windows is a minidump (MiniDumpWriteDump of dbghelp,
// linked at start-up so that nothing is loaded during a crash): the
// exception with its registers, every thread's stack and the module list,
// which a debugger turns into the backtrace and the memory map the Linux
// dump spells out. What the caller wrote to the file before (its text
// header) goes into the dump's comment stream, since a minidump must start
// at the file's first byte.
//
// dbghelp is written on a thread of its own: after a stack overflow the
// faulting thread has only the guaranteed room left, and the writer needs
// far more.

#include "platform/crash_dump.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <dbghelp.h>

#include "platform/win32/win_util.h"

namespace platform {

namespace {

// Below the fatal handler's watchdog, so a stuck writer still leaves the
// handler time to finish.
constexpr DWORD kWriteLimitMs = 15 * 1000;

// Static: the handler runs once, and its stack is small.
char g_comment[8 * 1024];
HANDLE g_file = nullptr;
MINIDUMP_EXCEPTION_INFORMATION g_exception;
MINIDUMP_USER_STREAM g_commentStream;
MINIDUMP_USER_STREAM_INFORMATION g_userStreams;
bool g_written = false;
DWORD g_error = 0;

DWORD WINAPI writeDump(void*) {
  const auto type = static_cast<MINIDUMP_TYPE>(
      MiniDumpNormal | MiniDumpWithIndirectlyReferencedMemory | MiniDumpScanMemory);
  g_written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), g_file, type,
                                g_exception.ExceptionPointers != nullptr ? &g_exception : nullptr,
                                g_userStreams.UserStreamCount != 0 ? &g_userStreams : nullptr,
                                nullptr) != FALSE;
  g_error = g_written ? 0 : GetLastError();
  return 0;
}

// Moves what the file holds so far into the comment stream and empties
// the file. False when the file cannot be rewound.
bool takeHeader(HANDLE file) {
  g_userStreams.UserStreamCount = 0;
  LARGE_INTEGER zero{};
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, zero, &end, FILE_CURRENT)) return false;
  if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
  const DWORD wanted = end.QuadPart < static_cast<LONGLONG>(sizeof g_comment - 1)
                           ? static_cast<DWORD>(end.QuadPart)
                           : sizeof g_comment - 1;
  DWORD got = 0;
  if (wanted > 0 && ReadFile(file, g_comment, wanted, &got, nullptr) && got > 0) {
    g_comment[got] = '\0';
    g_commentStream.Type = CommentStreamA;
    g_commentStream.BufferSize = got + 1;
    g_commentStream.Buffer = g_comment;
    g_userStreams.UserStreamCount = 1;
    g_userStreams.UserStreamArray = &g_commentStream;
  }
  return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

bool writeFatalSignalDump(int fd, const FatalSignal& fault) {
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  g_file = LongToHandle(fd);
  if (!takeHeader(g_file)) return false;
  g_exception.ThreadId = static_cast<DWORD>(fault.threadId);
  g_exception.ExceptionPointers =
      static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(fault.machineContext));
  g_exception.ClientPointers = FALSE;
  g_written = false;
  g_error = ERROR_TIMEOUT;
  HANDLE writer = CreateThread(nullptr, 1024 * 1024, &writeDump, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (writer == nullptr) {
    // No thread to be had: try on this one, whatever room it has left.
    writeDump(nullptr);
  } else {
    const DWORD w = WaitForSingleObject(writer, kWriteLimitMs);
    CloseHandle(writer);
    // Still running: it may write on, but the dump cannot be called whole.
    if (w != WAIT_OBJECT_0) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
  }
  if (!g_written) SetLastError(g_error);
  return g_written;
}

}  // namespace platform
