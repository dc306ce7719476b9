#ifndef WEBSETUP_TESTS_SUPPORT_WIN32_HOST_PATHS_WIN_H_
#define WEBSETUP_TESTS_SUPPORT_WIN32_HOST_PATHS_WIN_H_

// The Windows tests run under Wine beside programs of the build machine
// (maker-services, curl). Those take Unix paths; the tests hold Windows
// ones. Wine shows the whole Unix tree as drive Z:.

#include <string>

namespace testing_support::win {

// True for "C:\..." and "C:/...".
bool isDrivePath(const std::string& path);

// The Unix path Wine keeps a Windows path at, through Wine's own
// wine_get_unix_file_name (the folder above it must exist). A path that is
// not a drive path comes back as it is.
std::string unixPath(const std::string& path);

// A Unix path ("/usr/bin/curl") as Windows programs reach it ("Z:\\usr\\bin\\curl").
// Anything else comes back as it is.
std::string windowsPath(const std::string& path);

// Whether `path` names a program of the build machine (an ELF file or a
// script) rather than a Windows one.
bool isHostProgram(const std::string& path);

// A fresh name for a scratch file in the temporary folder, unique in this
// process: <temp>/websetup-<tag>-<pid>-<n><suffix>.
std::string scratchPath(const std::string& tag, const std::string& suffix);

}  // namespace testing_support::win

#endif  // WEBSETUP_TESTS_SUPPORT_WIN32_HOST_PATHS_WIN_H_
