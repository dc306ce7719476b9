#include <windows.h>

#include <random>
#include <stdexcept>

#include "common/text.h"
#include "support/temp_dir.h"
#include "support/win32/host_paths_win.h"

namespace testing_support {

// Under the user's temporary folder, which Wine keeps in the build's own
// prefix, so the build machine's servers reach it too (by its Unix path).
// Written with '/' like the paths the platform layer hands out.
TempDir::TempDir() {
  std::random_device seed;
  std::mt19937 gen(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = win::scratchPath("test", "-" + std::to_string(gen() % 1000000));
    if (CreateDirectoryW(common::utf8ToWide(candidate).c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("TempDir: cannot make a folder under the temporary folder");
}

}  // namespace testing_support
