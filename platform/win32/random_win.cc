#include "platform/random.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <limits>

namespace platform {

bool fillRandom(void* out, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ULONG chunk = size > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max()
                                                                 : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    p += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace platform
