#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace testing_support {

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/websetup-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

}  // namespace testing_support
