#include "support/test_data.h"

#include <cstdint>
#include <random>

namespace testing_support {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t v = gen();
    for (size_t j = 0; j < 8 && i + j < n; ++j) s[i + j] = char(v >> (8 * j));
  }
  return s;
}

}  // namespace testing_support
