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
// Everything a callback may use is declared here and is async-signal-safe:
// no allocation, no stdio, no lock any other code takes.

#include <cstddef>
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

// Writes the body of a crash dump to `fd`: the signal and its reason, the
// registers, the faulting thread's backtrace (each frame with its module,
// its offset in the module and the nearest symbol) and a copy of
// /proc/self/maps. Async-signal-safe; uses static buffers, so only the
// handler's callback may call it. Returns false when a write failed.
bool writeFatalSignalDump(int fd, const FatalSignal& fault);

// Starts `program` with `argv` (null-terminated, argv[0] first) in a
// session of its own, with no signal blocked and only descriptors 0-2
// kept, so it outlives this process. Async-signal-safe. Returns the child's
// id, or -1 when it could not be created (a failed exec ends the child with
// code 127).
int spawnDetachedFromSignalHandler(const char* program, const char* const* argv);

// The local time, computed without locks from the clock and the offset from
// UTC that installFatalSignalHandler() saw. Async-signal-safe.
LocalTime localTimeFromSignalHandler();

// The temporary folder as installFatalSignalHandler() saw it, without a
// trailing '/'. Async-signal-safe.
const char* tempDirFromSignalHandler();

// Writes to address 0: the developer's crash test. Never returns.
[[noreturn]] void crashTest();

// Builds one text in a fixed buffer and writes it with write(2): the
// handler's stand-in for a formatted stream. A text longer than the buffer
// is cut. Async-signal-safe.
class SignalSafeWriter {
 public:
  static constexpr size_t kCapacity = 1024;

  SignalSafeWriter& text(const char* s);
  SignalSafeWriter& text(const char* s, size_t n);
  SignalSafeWriter& decimal(int64_t value);
  // 0x-prefixed, at least `digits` hexadecimal digits.
  SignalSafeWriter& hex(uint64_t value, int digits = 1);
  // Decimal with leading zeros to `digits` digits.
  SignalSafeWriter& padded(int64_t value, int digits);
  // The 17-digit stamp year..millisecond.
  SignalSafeWriter& stamp(const LocalTime& t);

  const char* data() const { return buffer_; }
  size_t size() const { return size_; }
  void clear() {
    size_ = 0;
    buffer_[0] = '\0';
  }
  // Writes the whole text to `fd`, retrying short writes. Returns false on
  // failure.
  bool writeTo(int fd) const;

 private:
  char buffer_[kCapacity + 1] = {};
  size_t size_ = 0;
};

// write(2) of all of `n` bytes, retried on short writes and EINTR.
// Async-signal-safe. Returns false on failure.
bool writeAllFromSignalHandler(int fd, const char* data, size_t n);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FATAL_SIGNAL_H_
