#include "crash_test_support.h"

namespace crash_test {

std::string LocalPath(const std::string& buildMachinePath) { return buildMachinePath; }

}  // namespace crash_test
