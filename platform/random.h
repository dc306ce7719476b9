#ifndef WEBSETUP_PLATFORM_RANDOM_H_
#define WEBSETUP_PLATFORM_RANDOM_H_

// Random bytes from the system's cryptographic source (BCryptGenRandom on
// Windows, getrandom on Linux): what new GUIDs and other unguessable names
// are made of. Thread-safe.

#include <cstddef>

namespace platform {

// Fills `size` bytes at `out`. False (and `out` of no use) only when the
// system source fails, which a caller must not paper over with a weaker one.
[[nodiscard]] bool fillRandom(void* out, size_t size);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_RANDOM_H_
