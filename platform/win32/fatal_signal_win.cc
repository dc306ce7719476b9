// Fatal faults on Windows. Unhandled exceptions reach one filter
// (SetUnhandledExceptionFilter); a stack overflow is taken earlier by a
// vectored handler, which runs before the system walks the exception
// frames, on the room SetThreadStackGuarantee keeps for it; abort() comes
// through the C runtime's SIGABRT. All three end in one handler that
// passes the EXCEPTION_POINTERS on as the fault's machine context, for the
// minidump. The callback runs on the faulting thread; the process then
// ends with the exception code as its exit code, as an unhandled exception
// ends it, without the system's error report on top of ours.

#include "platform/fatal_signal.h"
#include "platform/clock.h"

#include <stdlib.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

#include "common/thread_tools.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

// Room for the handler after a stack overflow: the callback formats on
// the stack and the dump is written on a thread of its own.
constexpr ULONG kStackGuarantee = 64 * 1024;
// A handler stuck on a lock it should never have met ends the process
// rather than leaving a hidden, frozen setup behind.
constexpr DWORD kHandlerLimitMs = 20 * 1000;
// What abort() leaves as exit code on Windows, and the code Windows
// reports for it.
constexpr UINT kAbortExitCode = 3;
constexpr DWORD kAbortExceptionCode = 0x40000015;  // STATUS_FATAL_APP_EXIT

std::atomic<FatalSignalCallback> g_callback{nullptr};
// The thread handling the fault (0: none yet). Set once, never cleared.
std::atomic<DWORD> g_handlingThread{0};
std::atomic<UINT> g_exitCode{0};
char g_tempDir[4096] = "";
std::once_flag g_installOnce;
HANDLE g_handlingStarted = nullptr;

// What abort() reports, kept here because the handler runs once and the
// CONTEXT is too big for a small stack.
alignas(16) CONTEXT g_abortContext;
EXCEPTION_RECORD g_abortRecord;
EXCEPTION_POINTERS g_abortPointers;

int signalFor(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_GUARD_PAGE:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT: return SIGSEGV;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW: return SIGFPE;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return SIGILL;
    default: return SIGABRT;
  }
}

[[noreturn]] void endNow(UINT code) {
  TerminateProcess(GetCurrentProcess(), code);
  for (;;) Sleep(INFINITE);
}

[[noreturn]] void handleFault(EXCEPTION_POINTERS* pointers, UINT exitCode) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const int sig = signalFor(record->ExceptionCode);
  const DWORD tid = GetCurrentThreadId();
  DWORD expected = 0;
  if (!g_handlingThread.compare_exchange_strong(expected, tid)) {
    // The handler itself faulted: end now rather than fault for ever.
    if (expected == tid) endNow(128 + static_cast<UINT>(sig));
    // Another thread is writing the dump and will end the process.
    for (;;) Sleep(INFINITE);
  }
  g_exitCode = exitCode;
  if (g_handlingStarted != nullptr) SetEvent(g_handlingStarted);
  FatalSignal fault;
  fault.signal = sig;
  fault.code = static_cast<int>(record->ExceptionCode);
  // An access violation names the address it touched; anything else, the
  // instruction.
  const bool access = record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
                      record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR;
  fault.address = access && record->NumberParameters >= 2
                      ? static_cast<uintptr_t>(record->ExceptionInformation[1])
                      : reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  fault.threadId = static_cast<int>(tid);
  fault.machineContext = pointers;
  if (FatalSignalCallback callback = g_callback.load()) callback(fault);
  endNow(exitCode);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
  handleFault(pointers, static_cast<UINT>(pointers->ExceptionRecord->ExceptionCode));
}

// Every exception passes here first, most of them handled further on (the
// system probes memory under __try); only an overflow is taken now, while
// the guaranteed room is still there.
LONG CALLBACK onVectoredException(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  handleFault(pointers, EXCEPTION_STACK_OVERFLOW);
}

void __cdecl onAbort(int) {
  RtlCaptureContext(&g_abortContext);
  g_abortRecord.ExceptionCode = kAbortExceptionCode;
  g_abortRecord.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#if defined(_M_X64) || defined(__x86_64__)
  g_abortRecord.ExceptionAddress = reinterpret_cast<void*>(g_abortContext.Rip);
#else
  g_abortRecord.ExceptionAddress = reinterpret_cast<void*>(g_abortContext.Eip);
#endif
  g_abortPointers.ExceptionRecord = &g_abortRecord;
  g_abortPointers.ContextRecord = &g_abortContext;
  handleFault(&g_abortPointers, kAbortExitCode);
}

DWORD WINAPI watchdog(void*) {
  WaitForSingleObject(g_handlingStarted, INFINITE);
  Sleep(kHandlerLimitMs);
  endNow(g_exitCode.load());
}

void giveThreadAGuarantee() { (void)installAlternateSignalStackForThisThread(); }

}  // namespace

// Windows keeps no separate signal stack; the guarantee reserves room at
// the end of the thread's own stack that only exception handling may use.
PlatformResult installAlternateSignalStackForThisThread() {
  ULONG size = kStackGuarantee;
  return SetThreadStackGuarantee(&size) ? PlatformResult::kOk : win::lastResult();
}

PlatformResult installFatalSignalHandler(FatalSignalCallback callback) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n > 0 && n <= MAX_PATH) {
    std::wstring dir(temp, n);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    for (wchar_t& c : dir) {
      if (c == L'\\') c = L'/';
    }
    const std::string utf8 = win::narrow(dir);
    const size_t len = utf8.size() < sizeof g_tempDir - 1 ? utf8.size() : sizeof g_tempDir - 1;
    std::memcpy(g_tempDir, utf8.data(), len);
    g_tempDir[len] = '\0';
  }
  g_callback = callback;
  const PlatformResult stack = installAlternateSignalStackForThisThread();
  if (stack != PlatformResult::kOk) return stack;
  PlatformResult result = PlatformResult::kOk;
  std::call_once(g_installOnce, [&result] {
    // Every later thread too: a thread whose stack has overflowed has no
    // room left to handle it.
    common::SetThreadPrologue(&giveThreadAGuarantee);
    if (AddVectoredExceptionHandler(1, &onVectoredException) == nullptr) {
      result = win::lastResult();
      return;
    }
    SetUnhandledExceptionFilter(&onUnhandledException);
    // abort() would first show its message box in a program without a
    // console, and wait for it there; the message goes to the standard
    // error instead, which such a program does not have.
    _set_error_mode(_OUT_TO_STDERR);
    std::signal(SIGABRT, &onAbort);
    // The watchdog is started now: a thread started from the handler
    // might wait for the loader's lock that the fault left held.
    g_handlingStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = g_handlingStarted == nullptr
                        ? nullptr
                        : CreateThread(nullptr, 64 * 1024, &watchdog, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
      result = win::lastResult();
      return;
    }
    CloseHandle(thread);
  });
  return result;
}

// GetLocalTime reads the clock and the zone bias the kernel keeps in shared
// memory, taking no lock, so the ordinary clock call is safe here.
LocalTime localTimeFromSignalHandler() { return localTime(); }

const char* tempDirFromSignalHandler() { return g_tempDir; }

namespace {
// Read through a volatile pointer so the compiler cannot see the null and
// turn the store into a trap of its own.
int* volatile g_nowhere = nullptr;
}  // namespace

__attribute__((noinline)) void crashTest() {
  *g_nowhere = 0;
  __builtin_trap();
}

}  // namespace platform
