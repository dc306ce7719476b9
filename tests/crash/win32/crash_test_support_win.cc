#include "crash_test_support.h"
#include "support/win32/host_paths_win.h"

namespace crash_test {

std::string LocalPath(const std::string& buildMachinePath) {
  return testing_support::win::windowsPath(buildMachinePath);
}

}  // namespace crash_test
