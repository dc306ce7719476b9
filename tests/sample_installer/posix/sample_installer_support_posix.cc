#include "sample_installer/sample_installer_support.h"

namespace sample_installer_test {

// The Linux registry of a test is a store in its temporary folder.
void removeRegistryKey(const std::string&) {}

}  // namespace sample_installer_test
