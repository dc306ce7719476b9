#ifndef WEBSETUP_TESTS_SAMPLE_INSTALLER_SAMPLE_INSTALLER_SUPPORT_H_
#define WEBSETUP_TESTS_SAMPLE_INSTALLER_SAMPLE_INSTALLER_SUPPORT_H_

// What the sample installer's tests need to say differently on each
// system: how the installer writes a path, and how a key it wrote into a
// registry shared with other runs goes again.

#include <string>

namespace sample_installer_test {

// `path` (UTF-8, '/' or the system's separator) written with the system's
// own separator, as the installer writes paths into the registry and log.
std::string nativePath(const std::string& path);

// Removes HKLM\`key` with everything below it. Only for a registry that
// outlives the test (the machine's); a test's own store goes with its
// folder.
void removeRegistryKey(const std::string& key);

}  // namespace sample_installer_test

#endif  // WEBSETUP_TESTS_SAMPLE_INSTALLER_SAMPLE_INSTALLER_SUPPORT_H_
