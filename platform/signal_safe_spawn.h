#ifndef WEBSETUP_PLATFORM_SIGNAL_SAFE_SPAWN_H_
#define WEBSETUP_PLATFORM_SIGNAL_SAFE_SPAWN_H_

// Starting a program from the fatal-signal callback (the crash report
// process), where platform/process.h, which allocates, may not be used.

namespace platform {

// Starts `program` with `argv` (null-terminated, argv[0] first) in a
// session of its own, with no signal blocked and only descriptors 0-2
// kept, so it outlives this process. Async-signal-safe. Returns the child's
// id, or -1 when it could not be created (a failed exec ends the child with
// code 127).
int spawnDetachedFromSignalHandler(const char* program, const char* const* argv);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SIGNAL_SAFE_SPAWN_H_
