#ifndef WEBSETUP_PLATFORM_CRASH_DUMP_H_
#define WEBSETUP_PLATFORM_CRASH_DUMP_H_

// The body of a crash dump (the stand-in for a minidump writer), written
// from the fatal-signal callback of platform/fatal_signal.h.

#include "platform/fatal_signal.h"

namespace platform {

// Writes the body of a crash dump to `fd`: the signal and its reason, the
// registers, the faulting thread's backtrace (each frame with its module,
// its offset in the module and the nearest symbol) and a copy of the
// process's memory map. Async-signal-safe; uses static buffers, so only the
// handler's callback may call it. Returns false when a write failed.
[[nodiscard]] bool writeFatalSignalDump(int fd, const FatalSignal& fault);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_CRASH_DUMP_H_
