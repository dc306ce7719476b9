#ifndef WEBSETUP_PLATFORM_SYSTEM_INFO_H_
#define WEBSETUP_PLATFORM_SYSTEM_INFO_H_

#include <optional>

namespace platform {

// Number of processors this process may run on; at least 1.
int processorCount();

// True when the operating system is 64-bit (uname -m), whatever this
// process is built as.
bool is64BitOs();

// The stand-in for IsNetworkAlive: true when a non-loopback interface is up
// and has an address. The answer may be up to 250 ms old, so a caller may
// ask as often as it likes. Thread-safe.
bool isNetworkAlive();

// Forces isNetworkAlive() to answer `value` (nullopt: ask the system again).
// For tests.
void setNetworkAliveOverride(std::optional<bool> value);

namespace detail {
// The backend's own answer, asked afresh (system_info_posix.cc,
// system_info_win.cc); isNetworkAlive() caches it.
bool networkAliveNow();
}  // namespace detail

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SYSTEM_INFO_H_
