#ifndef WEBSETUP_PLATFORM_FATAL_SIGNAL_H_
#define WEBSETUP_PLATFORM_FATAL_SIGNAL_H_

// The process's last words: what runs when the program faults (the
// stand-in for an unhandled-exception filter and a minidump writer).
//
// installFatalSignalHandler() routes SIGSEGV, SIGBUS, SIGFPE, SIGILL and
// SIGABRT to one callback, on an alternate stack: the installing thread's,
// and that of every thread started afterwards through common::StartThread
// or common::CThreadHandle.
// The callback runs at most once per process, on the faulting thread; when
// it returns, the signal is raised again with its default action, so the
// exit status still names it. A fault inside the callback ends the process
// at once with exit code 128 + signal. A fault on a second thread while
// the first is being handled waits for the first to end the process.
//
// A callback may use only what is async-signal-safe: no allocation, no
// stdio, no lock any other code takes. The calls made for it are the two
// below that say so, and those of crash_dump.h, signal_safe_io.h and
// signal_safe_spawn.h.

#include <cstdint>

#include "platform/clock.h"
#include "platform/result.h"

namespace platform {

// What the handler knows about one fault.
struct FatalSignal {
  int signal = 0;
  int code = 0;                          // si_code: why the kernel sent it
  uintptr_t address = 0;                 // si_addr: the faulting address
  int senderPid = 0;                     // for a signal sent by a process (kill, abort)
  int threadId = 0;                      // the faulting thread (gettid)
  const void* machineContext = nullptr;  // the ucontext_t of the fault
};

// Called once, on the faulting thread, inside the signal handler.
using FatalSignalCallback = void (*)(const FatalSignal& fault);

// Installs the handler for every fatal signal and gives the calling thread
// an alternate signal stack, and every thread started later through
// common's thread tools one of its own. Loads the unwinder now, while loading is
// still safe. Call it again to replace the callback. Returns kOk, or the
// result of the failing system call. Not for signal handlers.
[[nodiscard]] PlatformResult installFatalSignalHandler(FatalSignalCallback callback);

// Gives the calling thread its own alternate signal stack (256 KiB and a
// guard page), so a stack overflow on that thread still reaches the
// handler; it is unmapped when the thread ends, and the thread's earlier
// alternate stack (a sanitizer's) put back. Threads that never call it run
// the handler on their own stack. Idempotent per thread. Returns kOk or the
// failing system call's result. Not for signal handlers.
[[nodiscard]] PlatformResult installAlternateSignalStackForThisThread();

// The local time, computed without locks from the clock and the offset from
// UTC that installFatalSignalHandler() saw. Async-signal-safe.
LocalTime localTimeFromSignalHandler();

// The temporary folder as installFatalSignalHandler() saw it, without a
// trailing '/'. Async-signal-safe.
const char* tempDirFromSignalHandler();

// Writes to address 0: the developer's crash test. Never returns.
[[noreturn]] void crashTest();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FATAL_SIGNAL_H_
