#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>

namespace platform {

bool fillRandom(void* out, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform
