// Starting the crash report process on Windows. CreateProcessW itself may
// allocate from the process heap; what is ours here does not: the command
// line is built in a static buffer (the handler runs once) with the same
// quoting as every other start, so the log file name cannot add a switch.

#include "platform/signal_safe_spawn.h"

#include "platform/win32/win_util.h"

namespace platform {

namespace {

wchar_t g_program[32768];
wchar_t g_commandLine[32768];
wchar_t g_element[32768];
constexpr size_t kCapacity = sizeof g_commandLine / sizeof g_commandLine[0];

bool toWide(const char* utf8, wchar_t* out, size_t capacity, size_t* length) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, static_cast<int>(capacity));
  if (n <= 0) return false;
  *length = static_cast<size_t>(n - 1);
  return true;
}

// The program name in plain quotes, then each further element quoted to
// read back unchanged. False when it does not fit.
bool buildCommandLine(const char* const* argv) {
  size_t used = 0;
  bool fits = true;
  auto put = [&used, &fits](wchar_t c) {
    if (used + 1 < kCapacity) {
      g_commandLine[used++] = c;
    } else {
      fits = false;
    }
  };
  size_t length = 0;
  if (argv[0] == nullptr || !toWide(argv[0], g_element, kCapacity, &length)) return false;
  put(L'"');
  for (size_t i = 0; i < length; ++i) {
    if (g_element[i] == L'"') return false;
    put(g_element[i]);
  }
  put(L'"');
  for (size_t a = 1; argv[a] != nullptr; ++a) {
    if (!toWide(argv[a], g_element, kCapacity, &length)) return false;
    put(L' ');
    win::appendQuotedArgument(std::wstring_view(g_element, length), put);
  }
  g_commandLine[used] = L'\0';
  return fits;
}

}  // namespace

// No console of ours, a process group of its own and, where our job
// allows, out of the job: nothing that ends us ends the report with us.
// Only the standard handles would be inherited, and none is.
int spawnDetachedFromSignalHandler(const char* program, const char* const* argv) {
  size_t length = 0;
  if (!toWide(program, g_program, sizeof g_program / sizeof g_program[0], &length) ||
      !buildCommandLine(argv)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB;
  BOOL started = CreateProcessW(g_program, g_commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                                nullptr, &startup, &info);
  if (!started && GetLastError() == ERROR_ACCESS_DENIED) {
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    started = CreateProcessW(g_program, g_commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                             nullptr, &startup, &info);
  }
  if (!started) return -1;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(info.dwProcessId);
}

}  // namespace platform
